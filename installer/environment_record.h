// Environment record: one assignment for the installer's environment, which
// every later program and script inherits.
#pragma once

// Reads the payload at fd's position; the payload length is the prefix's
// first four bytes. Returns 0; a payload of 1024 bytes or more, or one cut
// short, ends the process.
int set_env(int fd, const unsigned char* prefix);
