#include "archive_check.h"

#include "decompressor.h"
#include "entry_rules.h"
#include "io.h"
#include "tar_stream.h"
#include "terminal_text.h"

#include <array>
#include <cstring>
#include <map>
#include <utility>

namespace zkpack {

namespace {

using tar_format::EntryKind;

// "BZh", the block size digit, then the magic of a first block or of the
// end of an empty stream; or the magic of a zstd frame or an xz stream.
// Anything else is a tar archive for zkpack to compress.
bool starts_compressed_stream(const unsigned char* head, size_t length) {
    constexpr unsigned char BLOCK_MAGIC[] = {0x31, 0x41, 0x59, 0x26, 0x53, 0x59};
    constexpr unsigned char END_MAGIC[] = {0x17, 0x72, 0x45, 0x38, 0x50, 0x90};
    constexpr unsigned char ZSTD_MAGIC[] = {0x28, 0xB5, 0x2F, 0xFD};
    constexpr unsigned char XZ_MAGIC[] = {0xFD, 0x37, 0x7A, 0x58, 0x5A, 0x00};
    const bool bzip2 = length >= 10 && std::memcmp(head, "BZh", 3) == 0 && head[3] >= '1' && head[3] <= '9' &&
                       (std::memcmp(head + 4, BLOCK_MAGIC, 6) == 0 || std::memcmp(head + 4, END_MAGIC, 6) == 0);
    return bzip2 || (length >= sizeof ZSTD_MAGIC && std::memcmp(head, ZSTD_MAGIC, sizeof ZSTD_MAGIC) == 0) ||
           (length >= sizeof XZ_MAGIC && std::memcmp(head, XZ_MAGIC, sizeof XZ_MAGIC) == 0);
}

class EntryRules final : public tar_format::EntryHandler {
public:
    explicit EntryRules(std::string archive) : archive_(std::move(archive)) {}
    void entry(const tar_format::Entry& entry) override;
    void data(const unsigned char*, size_t) override {}
    void entry_end() override {}
    void end_block() override {}

private:
    std::string conflict(const std::string& name, EntryKind kind) const;
    void note_made(const std::string& name, EntryKind kind);

    std::string archive_;
    // What the installer will have made, by name: directories, symbolic
    // links and files (hard links among them). A hard link may name only
    // the last two.
    std::map<std::string, EntryKind> made_;
};

// Why an entry cannot be made over what earlier entries made: the
// installer never follows a link nor makes a directory beneath a file, and
// no file or link replaces a directory, nor a directory a file or a link.
std::string EntryRules::conflict(const std::string& name, EntryKind kind) const {
    for (size_t slash = name.find('/'); slash != std::string::npos; slash = name.find('/', slash + 1)) {
        const auto above = made_.find(name.substr(0, slash));
        if (above == made_.end() || above->second == EntryKind::directory) continue;
        const std::string what = above->second == EntryKind::symbolic_link ? "the symbolic link " : "the file ";
        return "beneath " + what + terminal_text::printable(above->first) +
               " an earlier entry makes; the installer makes nothing there";
    }
    const auto same = made_.find(name);
    if (same == made_.end() || (same->second == EntryKind::directory) == (kind == EntryKind::directory)) return "";
    const std::string what = same->second == EntryKind::directory       ? "a directory"
                             : same->second == EntryKind::symbolic_link ? "a symbolic link"
                                                                        : "a file";
    return what + " an earlier entry makes has its name; the installer does not replace it";
}

void EntryRules::note_made(const std::string& name, EntryKind kind) {
    for (size_t slash = name.find('/'); slash != std::string::npos; slash = name.find('/', slash + 1)) {
        made_.emplace(name.substr(0, slash), EntryKind::directory);
    }
    if (!name.empty()) made_[name] = kind;
}

void EntryRules::entry(const tar_format::Entry& entry) {
    const std::string name = tar_format::normal_name(entry.name);
    std::string problem = entry_problem(entry.kind, entry.type, entry.name, entry.link_name);
    EntryKind kind = entry.kind == EntryKind::hard_link ? EntryKind::regular : entry.kind;
    if (problem.empty() && entry.kind == EntryKind::hard_link) {
        const auto target = made_.find(tar_format::normal_name(entry.link_name));
        if (target == made_.end() || target->second == EntryKind::directory) {
            problem = "a hard link to " + terminal_text::printable(entry.link_name) + ", which no entry before it makes";
        } else {
            kind = target->second;
        }
    }
    if (problem.empty()) problem = conflict(name, kind);
    // Names as the installer prints them: an archive cannot drive the terminal.
    if (!problem.empty()) fail(archive_ + ": " + terminal_text::printable(entry.name), problem);
    note_made(name, kind);
}

}  // namespace

ArchiveInput check_archive(const std::string& path) {
    const FileDescriptor file = open_for_reading(path);
    ArchiveInput input{path, false, size_of(file.get(), path)};
    std::array<unsigned char, 10> head{};
    input.compressed = starts_compressed_stream(head.data(), read_at(file.get(), head.data(), head.size(), 0, path));

    EntryRules rules(path);
    tar_format::TarStream scanner(rules);
    const ByteSink feed = [&](const unsigned char* data, size_t length) { scanner.feed(data, length); };
    if (input.compressed) {
        const StreamResult result = decompress(range_source(file.get(), path, 0, input.size), feed);
        const std::string problem = stream_problem(result, input.size);
        if (!problem.empty()) fail(path, problem);
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
