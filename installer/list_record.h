// --list's record handler: one line per record, and per archive entry, as
// the installer would read them; nothing is carried out.
#pragma once

// Prints "KIND record, LENGTH bytes", with ": ASSIGNMENT" for an environment
// record, and for an archive record one more line per entry: its type and
// mode, size and name (and link target) as tar's verbose listing shows them.
// Returns 0, or -1 when the archive is damaged (said on standard error); a
// payload that runs past the file's end ends the run.
int list_record(int fd, const unsigned char* prefix);
