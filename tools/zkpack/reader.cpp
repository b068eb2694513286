#include "reader.h"

#include "format.h"

#include <zk/zk.h>

#include <array>
#include <cstdio>

namespace zkpack {

namespace {

// Reads that fail end the command, naming the file.
class PackageReader final : public package_format::PositionalReader {
public:
    explicit PackageReader(const Package& package) : package_(package) {}
    int64_t read_at(unsigned char* destination, size_t count, uint64_t offset) override {
        return static_cast<int64_t>(zkpack::read_at(package_.file.get(), destination, count, offset, package_.path));
    }

private:
    const Package& package_;
};

// The installer takes the first marker in the file, so this one counts.
uint64_t find_marker(const Package& package) {
    MarkerSearch search;
    for_each_block(package.file.get(), package.path, 0, package.file_size,
                   [&](const unsigned char* block, size_t length) { return !search.feed(block, length); });
    if (!search.found()) fail(package.path, "no package marker found");
    return search.offset();
}

uint32_t compute_checksum(const Package& package) {
    Checksum checksum(package.marker_offset);
    for_each_block(package.file.get(), package.path, 0, package.file_size,
                   [&](const unsigned char* block, size_t length) {
                       checksum.add(block, length);
                       return true;
                   });
    return checksum.value();
}

std::string hex32(uint32_t value) {
    char text[9];
    std::snprintf(text, sizeof text, "%08x", value);
    return text;
}

}  // namespace

Package open_package(const std::string& path) {
    Package package;
    package.path = path;
    package.file = open_for_reading(path);
    package.file_size = size_of(package.file.get(), path);
    package.marker_offset = find_marker(package);

    std::array<unsigned char, HEADER_SIZE> header{};
    const size_t n = read_at(package.file.get(), header.data(), header.size(), package.marker_offset, path);
    if (n < HEADER_SIZE) {
        fail(path, "package header cut short: " + std::to_string(n) + " of " + std::to_string(HEADER_SIZE) + " bytes");
    }
    if (header[HEADER_TERMINATOR] != 0) fail(path, "package header lacks the NUL after the marker");
    package.package_length = zk::LGET32(header.data() + HEADER_LENGTH);
    package.stored_checksum = zk::LGET32(header.data() + HEADER_CHECKSUM);
    package.flags = header[HEADER_FLAGS];
    package.computed_checksum = compute_checksum(package);
    return package;
}

std::string header_problem(const Package& package) {
    const uint64_t expected_size = package.marker_offset + package.package_length;
    if (expected_size != package.file_size) {
        return "size mismatch: the file should be " + std::to_string(expected_size) + " bytes, it is " +
               std::to_string(package.file_size) + " bytes";
    }
    if (package.stored_checksum != package.computed_checksum) {
        return "checksum mismatch: stored " + hex32(package.stored_checksum) + ", computed " +
               hex32(package.computed_checksum);
    }
    return "";
}

std::string walk_records(const Package& package, const std::function<void(const RecordInfo&)>& visit) {
    PackageReader file(package);
    const auto runs_past = [](uint64_t index, uint64_t offset) {
        return "record " + std::to_string(index) + " at offset " + std::to_string(offset) +
               " runs past the end of the file";
    };
    std::string problem;
    const WalkResult walked =
        package_format::walk_records(file, package.marker_offset + HEADER_SIZE, package.file_size, [&](const Record& record) {
            if (record.end() > package.file_size) {
                problem = runs_past(record.index, record.offset);
                return false;
            }
            visit(record);
            return true;
        });
    if (walked.end == WalkEnd::cut_short) problem = runs_past(walked.index, walked.offset);
    return problem;
}

ByteSource payload_source(const Package& package, const RecordInfo& record) {
    const uint64_t start = record.offset + PREFIX_SIZE;
    return range_source(package.file.get(), package.path, start, start + record.length);
}

}  // namespace zkpack
