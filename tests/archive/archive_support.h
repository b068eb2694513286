// Helpers of the archive tests: tar streams built field by field, bzip2
// and zstd compression, snapshots of directory trees, standard output captured.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace archive_test {

// One entry of a hand-made tar stream. The fields hold the text that goes
// into the header as it stands, so a test can put anything there.
struct TarEntry {
    std::string name;
    std::string data{};
    char type = '0';
    std::string mode = "0000644";
    std::string size{};  // empty: the data's size in octal
    std::string prefix{};
    std::string magic = std::string(
        "ustar\0"
        "00",
        8);
    std::string link{};
    std::string mtime = "00000000000";
};

std::string tar_header(const TarEntry& entry);
// The entries, each header followed by its data padded to whole blocks, then
// two zero blocks.
std::string tar_archive(const std::vector<TarEntry>& entries);

std::string bzip2_compress(const std::string& bytes);
std::string zstd_compress(const std::string& bytes);

// Bytes that hardly compress, the same every time: their stream spans many
// reads and deliveries.
std::string noise(size_t size);

// path below the root -> "dir 0755", "file 0644 <content>", "fifo 0600" or
// "link <target>".
using Tree = std::map<std::string, std::string>;
// `left_out` names an entry directly under the root that is not read at all.
Tree tree_of(const std::string& root, const std::string& left_out = "");

// Everything printed on standard output between construction and text(),
// kept in a file in `dir`.
class StdoutCapture {
public:
    explicit StdoutCapture(const std::string& dir);
    ~StdoutCapture();
    StdoutCapture(const StdoutCapture&) = delete;
    StdoutCapture& operator=(const StdoutCapture&) = delete;
    std::string text();

private:
    int saved_fd_;
    std::string path_;
    bool done_ = false;
};

}  // namespace archive_test
