// The package container: the marker, the header that follows it and the
// prefix of each setup record. Header offsets count from the marker's first
// byte, prefix offsets from the record's first byte; numbers are big-endian.
#pragma once

#include <cstddef>

namespace package_format {

constexpr size_t MARKER_LENGTH = 14;
constexpr size_t MARKER_BUFFER_SIZE = 32;

constexpr size_t HEADER_SIZE = 172;
constexpr size_t HEADER_TERMINATOR_OFFSET = 14;  // the NUL that ends the marker string
constexpr size_t HEADER_LENGTH_OFFSET = 24;      // bytes from the marker to the end of the file
constexpr size_t HEADER_CHECKSUM_OFFSET = 28;    // CRC-32 of the file, this field taken as zeros
constexpr size_t CHECKSUM_SIZE = 4;

constexpr size_t PREFIX_SIZE = 5;
constexpr size_t PREFIX_LENGTH_OFFSET = 0;  // payload length, the prefix not counted
constexpr size_t PREFIX_KIND_OFFSET = 4;

constexpr size_t READ_BLOCK_SIZE = 1024;  // verification and marker search read this much at a time

constexpr unsigned char KIND_WELCOME_TEXT = 1;
constexpr unsigned char KIND_ARCHIVE = 2;
constexpr unsigned char KIND_PROGRAM = 7;
constexpr unsigned char KIND_ARCHIVE_ALT = 10;
constexpr unsigned char KIND_SCRIPT = 11;
constexpr unsigned char KIND_ENVIRONMENT = 12;

// The marker's two pieces, 0x01 "Install" and 0x07 "Magic". The marker search
// takes the first occurrence in the file, so the installer's own image must
// never hold the whole marker: the pieces live in a translation unit of their
// own, where no optimisation can fold them into one constant, and are joined
// at run time.
extern const char MARKER_HEAD[];
extern const char MARKER_TAIL[];

}  // namespace package_format
