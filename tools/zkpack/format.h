// The package format, as the installer reads it: one table of constants.
//
// An installer file is the installer program (the stub), then a 172-byte
// header that starts with the marker, then setup records back to back up to
// the end of the file. Every number is big-endian.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace zkpack {

// The marker is "\x01Install\x07Magic". Its two pieces are kept apart (see
// marker.cpp) so that no executable holds the 14 bytes in one piece.
constexpr size_t MARKER_SIZE = 14;
constexpr size_t MARKER_HEAD_SIZE = 8;
constexpr size_t MARKER_TAIL_SIZE = MARKER_SIZE - MARKER_HEAD_SIZE;

// Header layout, offsets from the marker.
constexpr size_t HEADER_SIZE = 172;
constexpr size_t HEADER_MARKER = 0;
constexpr size_t HEADER_TERMINATOR = 14;  // a NUL that ends the marker as a string
constexpr size_t HEADER_LENGTH = 24;      // bytes from the marker to the end of the file
constexpr size_t HEADER_CHECKSUM = 28;    // CRC-32 of the file with this field zero

// Record prefix: payload length, then the kind.
constexpr size_t PREFIX_SIZE = 5;
constexpr size_t PREFIX_LENGTH = 0;
constexpr size_t PREFIX_KIND = 4;

// Offsets in the file are unsigned 32-bit: the whole file stays below 4 GiB.
constexpr uint64_t MAX_FILE_SIZE = 0xFFFFFFFF;

// The installer reads an environment payload into 1024 bytes with a NUL.
constexpr size_t MAX_ENVIRONMENT_PAYLOAD = 1023;

constexpr unsigned MAX_KIND = 255;

enum RecordKind : unsigned {
    KIND_WELCOME = 1,
    KIND_ARCHIVE = 2,
    KIND_PROGRAM = 7,
    KIND_ARCHIVE_ALT = 10,
    KIND_SCRIPT = 11,
    KIND_ENVIRONMENT = 12,
};

struct KindName {
    unsigned kind;
    std::string_view name;
};

constexpr KindName KIND_NAMES[] = {
    {KIND_WELCOME, "welcome"},  {KIND_ARCHIVE, "archive"}, {KIND_PROGRAM, "program"},
    {KIND_ARCHIVE_ALT, "archive"}, {KIND_SCRIPT, "script"},   {KIND_ENVIRONMENT, "environment"},
};

// Payloads the installer runs through its bzip2 decompressor.
constexpr bool is_compressed_kind(unsigned kind) {
    return kind == KIND_ARCHIVE || kind == KIND_ARCHIVE_ALT || kind == KIND_SCRIPT;
}

// Kinds the installer does not know make it stop.
constexpr std::string_view kind_name(unsigned kind) {
    for (const auto& entry : KIND_NAMES) {
        if (entry.kind == kind) return entry.name;
    }
    return "unknown";
}

}  // namespace zkpack
