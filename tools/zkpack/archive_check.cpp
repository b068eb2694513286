#include "archive_check.h"

#include "decompressor.h"
#include "entry_rules.h"
#include "io.h"
#include "tar_stream.h"

#include <array>
#include <cstring>
#include <set>
#include <utility>

namespace zkpack {

namespace {

// "BZh", the block size digit, then the magic of a first block or of the
// end of an empty stream.
bool starts_bzip2_stream(const unsigned char* head, size_t length) {
    constexpr unsigned char BLOCK_MAGIC[] = {0x31, 0x41, 0x59, 0x26, 0x53, 0x59};
    constexpr unsigned char END_MAGIC[] = {0x17, 0x72, 0x45, 0x38, 0x50, 0x90};
    return length >= 10 && std::memcmp(head, "BZh", 3) == 0 && head[3] >= '1' && head[3] <= '9' &&
           (std::memcmp(head + 4, BLOCK_MAGIC, 6) == 0 || std::memcmp(head + 4, END_MAGIC, 6) == 0);
}

std::string without_trailing_slashes(std::string name) {
    while (name.size() > 1 && name.back() == '/') name.pop_back();
    return name;
}

class EntryRules final : public tar_format::EntryHandler {
public:
    explicit EntryRules(std::string archive) : archive_(std::move(archive)) {}
    void entry(const tar_format::Entry& entry) override;
    void data(const unsigned char*, size_t) override {}
    void entry_end() override {}
    void end_block() override {}

private:
    std::string problem_of(const tar_format::Entry& entry);
    std::string directory_problem(const tar_format::Entry& entry);

    std::string archive_;
    // First components of the directories the installer will have made.
    std::set<std::string> made_;
};

void EntryRules::entry(const tar_format::Entry& entry) {
    const std::string problem = problem_of(entry);
    if (!problem.empty()) fail(archive_ + ": " + entry.name, problem);
}

std::string EntryRules::problem_of(const tar_format::Entry& entry) {
    std::string problem = entry_problem(entry.kind, entry.type, entry.name, entry.link_name);
    if (problem.empty()) problem = directory_problem(entry);
    return problem;
}

// The installer makes a missing directory with its missing parents, all but
// the first component of its path: that one must be made by an earlier
// entry (or be ".").
std::string EntryRules::directory_problem(const tar_format::Entry& entry) {
    std::string directory = without_trailing_slashes(entry.name);
    if (entry.kind != tar_format::EntryKind::directory) {
        const size_t slash = directory.rfind('/');
        directory = slash == std::string::npos ? "" : directory.substr(0, slash);
    }
    if (directory.empty()) return "";
    const size_t slash = directory.find('/');
    const std::string first = directory.substr(0, slash);
    if (slash != std::string::npos && first != "." && made_.count(first) == 0) {
        return "the installer cannot make its directory " + directory + ", since no entry before it makes " + first;
    }
    made_.insert(first);
    return "";
}

void check_single_stream(const ArchiveInput& input, int fd, const ByteSink& sink) {
    const StreamResult result = decompress(range_source(fd, input.path, 0, input.size), sink);
    const std::string problem = stream_problem(result);
    if (!problem.empty()) fail(input.path, problem);
    if (result.consumed == input.size) return;
    std::array<unsigned char, 10> next{};
    const size_t n = read_at(fd, next.data(), next.size(), result.consumed, input.path);
    if (starts_bzip2_stream(next.data(), n)) {
        fail(input.path, "holds more than one bzip2 stream; the installer unpacks only the first");
    }
    fail(input.path, std::to_string(input.size - result.consumed) +
                         " bytes follow its bzip2 stream; the installer would ignore them");
}

}  // namespace

ArchiveInput check_archive(const std::string& path) {
    const FileDescriptor file = open_for_reading(path);
    ArchiveInput input{path, false, size_of(file.get(), path)};
    std::array<unsigned char, 10> head{};
    input.compressed = starts_bzip2_stream(head.data(), read_at(file.get(), head.data(), head.size(), 0, path));

    EntryRules rules(path);
    tar_format::TarStream scanner(rules);
    const ByteSink feed = [&](const unsigned char* data, size_t length) { scanner.feed(data, length); };
    if (input.compressed) {
        check_single_stream(input, file.get(), feed);
    } else {
        for_each_block(file.get(), path, 0, input.size, [&](const unsigned char* block, size_t length) {
            feed(block, length);
            return true;
        });
    }
    const std::string problem = scanner.problem();
    if (!problem.empty()) fail(path, problem);
    return input;
}

}  // namespace zkpack
