// --list's record handler: one line per record, as the installer would
// read it; nothing is carried out.
#pragma once

// Prints "KIND record, LENGTH bytes", with ": ASSIGNMENT" for an environment
// record. Returns 0; a payload that runs past the file's end ends the run.
int list_record(int fd, const unsigned char* prefix);
