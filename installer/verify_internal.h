// Pieces of the verification that tests reach directly.
#pragma once

#include <cstdint>

// Starts the running checksum with the program image before the marker,
// telling the user on standard error how far it got, at most once per clock
// second.
void checksum_program_image(int fd, uint32_t marker_offset);
