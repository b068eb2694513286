// Welcome text record: shows the product's welcome text, asks where to
// install, offers to create that directory and makes it the working
// directory, so that later archive and script records work inside it.
#pragma once

// Reads the payload at fd's position (length in the prefix's first four
// bytes). Sets install_dir and changes into it; under -gz the text is read
// and dropped and nothing is asked. Returns 0; a payload cut short, a refused
// or failed creation and a directory that cannot be entered end the process.
int file_banner(int fd, const unsigned char* prefix);
