// The package container: an installer file is the installer program (the
// stub), then a header that starts with the marker, then setup records back
// to back up to the end of the file. Header offsets count from the marker's
// first byte, prefix offsets from the record's first byte; numbers are
// big-endian.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace package_format {

// The marker is 0x01 "Install" 0x07 "Magic". The installer takes its first
// occurrence in the file, so no executable that may serve as the stub holds
// the 14 bytes in one piece (see marker.cpp).
constexpr size_t MARKER_SIZE = 14;
constexpr size_t MARKER_HEAD_SIZE = 8;
constexpr size_t MARKER_TAIL_SIZE = MARKER_SIZE - MARKER_HEAD_SIZE;
using Marker = std::array<unsigned char, MARKER_SIZE>;

constexpr size_t HEADER_SIZE = 172;
constexpr size_t HEADER_MARKER = 0;
constexpr size_t HEADER_TERMINATOR = 14;  // the NUL that ends the marker as a string
constexpr size_t HEADER_LENGTH = 24;      // bytes from the marker to the end of the file
constexpr size_t HEADER_CHECKSUM = 28;    // CRC-32 of the file, this field taken as zeros
constexpr size_t CHECKSUM_SIZE = 4;
// Bits that say how the package is to be carried out. In the header, so the
// installer knows them before any record runs, and the checksum and any
// signature cover them.
constexpr size_t HEADER_FLAGS = 32;
constexpr unsigned char FLAG_IGNORE_SCRIPT_STATUS = 0x01;  // a program's or script's exit status means nothing
using Header = std::array<unsigned char, HEADER_SIZE>;

constexpr size_t PREFIX_SIZE = 5;
constexpr size_t PREFIX_LENGTH = 0;  // payload length, the prefix not counted
constexpr size_t PREFIX_KIND = 4;

// Offsets in the file are unsigned 32-bit: the whole file stays below 4 GiB.
constexpr uint64_t MAX_FILE_SIZE = 0xFFFFFFFF;
// The installer reads an environment payload into 1024 bytes with a NUL.
constexpr size_t ENVIRONMENT_BUFFER_SIZE = 1024;
constexpr size_t MAX_ENVIRONMENT_PAYLOAD = ENVIRONMENT_BUFFER_SIZE - 1;
constexpr unsigned MAX_KIND = 255;

constexpr unsigned char KIND_WELCOME = 1;
constexpr unsigned char KIND_ARCHIVE = 2;
constexpr unsigned char KIND_PROGRAM = 7;
constexpr unsigned char KIND_ARCHIVE_ALT = 10;
constexpr unsigned char KIND_SCRIPT = 11;
constexpr unsigned char KIND_ENVIRONMENT = 12;
constexpr unsigned char KIND_LICENSE = 13;

// What a record is for: the installer carries out each role with one
// handler per run mode, and zkpack describes each.
enum class RecordRole { welcome, archive, program, script, environment, license };

struct RecordKind {
    unsigned char kind;
    std::string_view name;
    RecordRole role;
    bool compressed;  // the payload goes through the decoder
};

// Every kind the installer knows; any other makes it stop.
constexpr RecordKind RECORD_KINDS[] = {
    {KIND_WELCOME, "welcome", RecordRole::welcome, false},
    {KIND_ARCHIVE, "archive", RecordRole::archive, true},
    {KIND_PROGRAM, "program", RecordRole::program, false},
    {KIND_ARCHIVE_ALT, "archive", RecordRole::archive, true},
    {KIND_SCRIPT, "script", RecordRole::script, true},
    {KIND_ENVIRONMENT, "environment", RecordRole::environment, false},
    {KIND_LICENSE, "license", RecordRole::license, false},
};

// The row of a kind, or null for one the installer does not know.
constexpr const RecordKind* record_kind(unsigned kind) {
    for (const auto& row : RECORD_KINDS) {
        if (row.kind == kind) return &row;
    }
    return nullptr;
}

constexpr bool is_compressed_kind(unsigned kind) {
    const RecordKind* row = record_kind(kind);
    return row != nullptr && row->compressed;
}

constexpr std::string_view kind_name(unsigned kind) {
    const RecordKind* row = record_kind(kind);
    return row != nullptr ? row->name : "unknown";
}

// Assembled at run time from its pieces.
const Marker& package_marker();

// Finds the first occurrence of the marker in bytes fed in order, in pieces
// of any size.
class MarkerSearch {
public:
    // Returns true once the marker has been seen (and from then on).
    bool feed(const unsigned char* data, size_t length);
    bool found() const { return found_; }
    // The offset of the marker's first byte in the stream; valid once found.
    uint64_t offset() const { return offset_; }

private:
    uint64_t consumed_ = 0;
    size_t matched_ = 0;
    bool found_ = false;
    uint64_t offset_ = 0;
};

}  // namespace package_format
