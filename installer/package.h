// Finding the package inside the installer's own file.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "package_format.h"

constexpr size_t MARKER_BUFFER_SIZE = 32;
// Verification and the marker search read this much at a time: large enough
// that a package of gigabytes costs few system calls, small enough for the
// stack.
constexpr size_t READ_BLOCK_SIZE = 64 * 1024;

// Joins the marker's two pieces into a NUL-terminated string.
void assemble_marker(std::array<char, MARKER_BUFFER_SIZE>& marker);

// The file offset of the first occurrence of the marker at or after start,
// in a file of limit bytes; 0 when there is none. Moves the descriptor's
// file position.
uint32_t find_marker(int fd, uint32_t start, uint32_t limit);
