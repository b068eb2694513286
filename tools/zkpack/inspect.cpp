#include "inspect.h"

#include "decompressor.h"
#include "elf.h"
#include "format.h"
#include "reader.h"
#include "tar_stream.h"
#include "terminal_text.h"

#include <algorithm>
#include <array>
#include <cinttypes>
#include <cstdio>
#include <optional>

namespace zkpack {

namespace {

constexpr size_t SUMMARY_READ = 1024;  // what the installer reads of an environment record
constexpr size_t SUMMARY_WIDTH = 60;

int report_problem(const std::string& path, const std::string& problem) {
    if (problem.empty()) return 0;
    std::fprintf(stderr, "zkpack: %s: %s\n", path.c_str(), problem.c_str());
    return 1;
}

// The payload's text up to the first byte in stops, shortened to fit a line
// and escaped as the installer prints it, so a payload cannot drive the
// terminal.
std::string text_excerpt(const Package& package, const RecordInfo& record, std::string_view stops) {
    std::array<char, SUMMARY_READ> text{};
    const size_t wanted = std::min<size_t>(record.length, text.size());
    const size_t n = read_at(package.file.get(), reinterpret_cast<unsigned char*>(text.data()), wanted,
                             record.offset + PREFIX_SIZE, package.path);
    const std::string_view read(text.data(), n);
    const std::string_view line = read.substr(0, read.find_first_of(stops));
    if (line.size() > SUMMARY_WIDTH) return terminal_text::printable(line.substr(0, SUMMARY_WIDTH)) + "...";
    return terminal_text::printable(line);
}

// The stream counts the entries itself.
class CountOnly final : public tar_format::EntryHandler {
public:
    void entry(const tar_format::Entry&) override {}
    void data(const unsigned char*, size_t) override {}
    void entry_end() override {}
    void end_block() override {}
};

// "zstd, ": the compression its first stream names, if any.
std::string compression_prefix(const StreamResult& result) {
    if (result.compression == payload_codec::Compression::unknown) return "";
    return std::string(payload_codec::compression_name(result.compression)) + ", ";
}

// What the installer would unpack: its entries and the bytes of the tar
// stream, and what is wrong with it, if anything.
std::string archive_summary(const Package& package, const RecordInfo& record) {
    CountOnly counter;
    tar_format::TarStream scanner(counter);
    const StreamResult result = decompress(
        payload_source(package, record), [&](const unsigned char* data, size_t length) { scanner.feed(data, length); });
    std::string problem = stream_problem(result, record.length);
    if (problem.empty()) problem = scanner.problem();
    const uint64_t entries = scanner.entries();
    return compression_prefix(result) + std::to_string(entries) +
           (entries == 1 ? " entry, " : " entries, ") + std::to_string(result.produced) + " bytes" +
           (problem.empty() ? "" : "; " + problem);
}

// Its compression, and what is wrong with it, if anything.
std::string script_summary(const Package& package, const RecordInfo& record) {
    const StreamResult result = decompress(payload_source(package, record), [](const unsigned char*, size_t) {});
    const std::string problem = stream_problem(result, record.length);
    const std::string prefix = compression_prefix(result);
    return problem.empty() ? prefix.substr(0, prefix.size() - 2) : prefix + problem;
}

std::string record_summary(const Package& package, const RecordInfo& record) {
    const RecordKind* row = record_kind(record.kind);
    switch (row != nullptr ? row->role : RecordRole::program) {
        case RecordRole::archive: return archive_summary(package, record);
        case RecordRole::environment: return text_excerpt(package, record, std::string_view("\0", 1));
        case RecordRole::welcome:
        case RecordRole::license: return text_excerpt(package, record, "\r\n");
        case RecordRole::script: return script_summary(package, record);
        case RecordRole::program: break;
    }
    return "";
}

void print_header(const Package& package) {
    const std::optional<unsigned> machine = executable_machine(package.file.get(), package.path, package.marker_offset);
    std::printf("installer program: %s\n", machine ? machine_name(*machine).c_str() : "not an ELF executable");
    std::printf("marker offset:     %" PRIu64 "\n", package.marker_offset);
    std::printf("package length:    %" PRIu32 "\n", package.package_length);
    std::printf("stored checksum:   %08" PRIx32 "\n", package.stored_checksum);
    std::printf("computed checksum: %08" PRIx32 "\n", package.computed_checksum);
    std::printf("script status:     %s\n", (package.flags & FLAG_IGNORE_SCRIPT_STATUS) != 0 ? "ignored" : "looked at");
    std::printf("%5s %10s %5s %-12s %10s  %s\n", "index", "offset", "kind", "name", "length", "summary");
}

void print_record(const Package& package, const RecordInfo& record) {
    const std::string name(kind_name(record.kind));
    const std::string summary = record_summary(package, record);
    std::printf("%5" PRIu64 " %10" PRIu64 " %5u %-12s %10" PRIu32 "%s%s\n", record.index, record.offset, record.kind,
                name.c_str(), record.length, summary.empty() ? "" : "  ", summary.c_str());
}

}  // namespace

int list_package(const std::string& path) {
    const Package package = open_package(path);
    print_header(package);
    const std::string walk_problem =
        walk_records(package, [&](const RecordInfo& record) { print_record(package, record); });
    std::fflush(stdout);
    const std::string problem = header_problem(package);
    return report_problem(path, problem.empty() ? walk_problem : problem);
}

int verify_package(const std::string& path) {
    const Package package = open_package(path);
    std::string problem = header_problem(package);
    if (problem.empty()) problem = walk_records(package, [](const RecordInfo&) {});
    return report_problem(path, problem);
}

int verify_packages(const std::vector<std::string>& paths) {
    int status = 0;
    for (const std::string& path : paths) {
        try {
            status |= verify_package(path);
        } catch (const Failure& failure) {
            std::fprintf(stderr, "zkpack: %s\n", failure.message.c_str());
            status = 1;
        }
    }
    return status;
}

}  // namespace zkpack
