// Pieces of the verification that tests reach directly.
#pragma once

#include <cstdint>

#include "package_checksum.h"

// Starts the package checksum with the program image before the marker,
// telling the user on standard error how far it got, at most once per clock
// second.
package_format::Checksum checksum_program_image(int fd, uint32_t marker_offset);
