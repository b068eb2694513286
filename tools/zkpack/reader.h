// Reading a package back: its header, its checks and its records.
#pragma once

#include "io.h"
#include "record_walk.h"

#include <cstdint>
#include <functional>
#include <string>

namespace zkpack {

struct Package {
    std::string path;
    FileDescriptor file;
    uint64_t file_size = 0;
    uint64_t marker_offset = 0;
    uint32_t package_length = 0;
    uint32_t stored_checksum = 0;
    uint32_t computed_checksum = 0;
    unsigned char flags = 0;  // the header's FLAG_ bits
};

using RecordInfo = package_format::Record;

// Opens the package, reads its header and computes its checksum. Fails when
// there is no header to show: no marker, a header cut short or without the
// NUL after the marker.
Package open_package(const std::string& path);

// What breaks the size rule or the checksum, or "" when both hold.
std::string header_problem(const Package& package);

// Calls visit for each record in file order; returns what stopped the walk
// before the end of the file, or "".
std::string walk_records(const Package& package, const std::function<void(const RecordInfo&)>& visit);

// The record's payload, read block by block.
ByteSource payload_source(const Package& package, const RecordInfo& record);

}  // namespace zkpack
