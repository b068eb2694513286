#include "cat.h"

#include "decompressor.h"
#include "format.h"
#include "reader.h"

#include <array>
#include <cstdio>
#include <optional>

namespace zkpack {

namespace {

void write_to_stdout(const unsigned char* data, size_t length) {
    if (std::fwrite(data, 1, length, stdout) != length) fail_system("standard output", "cannot write");
}

RecordInfo find_record(const Package& package, uint64_t index) {
    std::optional<RecordInfo> found;
    uint64_t count = 0;
    const std::string problem = walk_records(package, [&](const RecordInfo& record) {
        if (record.index == index) found = record;
        ++count;
    });
    if (found) return *found;
    if (!problem.empty()) fail(package.path, problem);
    fail(package.path, "no record " + std::to_string(index) + "; the package holds " + std::to_string(count) +
                           (count == 1 ? " record" : " records"));
}

}  // namespace

int cat_record(const std::string& path, uint64_t index) {
    const Package package = open_package(path);
    const RecordInfo record = find_record(package, index);
    const ByteSource payload = payload_source(package, record);
    if (is_compressed_kind(record.kind)) {
        const std::string problem = stream_problem(decompress(payload, write_to_stdout), record.length);
        std::fflush(stdout);
        if (!problem.empty()) fail(path, "record " + std::to_string(index) + ": " + problem);
    } else {
        std::array<unsigned char, 64 * 1024> block{};
        while (const size_t n = payload(block.data(), block.size())) write_to_stdout(block.data(), n);
    }
    if (std::fflush(stdout) != 0) fail_system("standard output", "cannot write");
    return 0;
}

}  // namespace zkpack
