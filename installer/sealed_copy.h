// The package as the verification read it. Every byte that the checksum
// and the signature see is written to a private copy as well, and once the
// pass is over every record is read from that copy alone: a file changed,
// or swapped for another, after it was checked is never carried out.
#pragma once

#include <cstddef>
#include <cstdint>

// Starts the copy of a file of about `size` bytes: in sealed memory, or,
// where memory is short or the file large, in an unnamed file in the
// private temporary directory. Ends the run with a message when neither
// can be had.
void start_sealed_copy(uint64_t size);

// Adds bytes read at `offset` of the package file; nothing while no copy
// is started. Ends the run with a message when the copy cannot hold them.
void copy_package_bytes(uint64_t offset, const unsigned char* bytes, size_t count);

// Seals the copy and makes it installer_state.package_fd; returns its size,
// the end of the bytes added.
uint64_t seal_package_copy();

// Closes the copy, if there is one, and gives installer_state.package_fd
// back to the file it was made from.
void release_sealed_copy();
