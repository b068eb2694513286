// Where the run's private temporary directory may be made. The installer
// often runs as root and then runs files it wrote there, so the place must
// be one that no other user can change: a user who could rename a
// directory on the way could swap in files of their own.
#pragma once

#include <string>

// TEMP, TMP, TMPDIR (in that order), then /tmp: the first that is taken.
// One that other users can change is passed over with a notice on standard
// error ("Ignoring TEMP=...: reason"); one that does not exist or cannot be
// resolved is taken as it stands, so the run fails where it would have made
// its directory there. An existing directory is returned as its absolute
// name with no symbolic link, so that later changes of the working
// directory, or of a link, do not move it. Null, after a notice, when even
// /tmp may be changed by others.
const char* choose_temp_dir();

// Empty when neither `dir` nor any directory above it can be changed by a
// user other than root and the one running us: each is owned by one of
// them and is not writable by group or others unless it is sticky. Else
// the reason. `dir` is absolute and holds no symbolic link.
std::string changeable_by_others(const std::string& dir);
