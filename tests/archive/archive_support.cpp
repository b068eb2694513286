#include "archive_support.h"

#include <bzlib.h>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zstd.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "support.h"

namespace archive_test {

namespace {

constexpr size_t BLOCK = 512;

void put_field(std::string& header, size_t offset, size_t size, const std::string& text) {
    header.replace(offset, std::min(size, text.size()), text.substr(0, size));
}

std::string octal(size_t value) {
    std::array<char, 16> text;
    std::snprintf(text.data(), text.size(), "%011zo", value);
    return text.data();
}

std::string mode_text(mode_t mode) {
    std::array<char, 8> text;
    std::snprintf(text.data(), text.size(), "%04o", static_cast<unsigned>(mode));
    return text.data();
}

void walk(const std::string& root, const std::string& below, Tree& tree, const std::string& left_out) {
    DIR* dir = ::opendir((below.empty() ? root : root + "/" + below).c_str());
    if (dir == nullptr) return;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        if (below.empty() && name == left_out) continue;
        const std::string relative = below.empty() ? name : below + "/" + name;
        const std::string path = root + "/" + relative;
        struct stat status;
        ::lstat(path.c_str(), &status);
        if (S_ISLNK(status.st_mode)) {
            std::array<char, 4096> target{};
            ::readlink(path.c_str(), target.data(), target.size() - 1);
            tree[relative] = std::string("link ") + target.data();
        } else if (S_ISDIR(status.st_mode)) {
            tree[relative] = "dir " + mode_text(status.st_mode & 07777);
            walk(root, relative, tree, left_out);
        } else if (S_ISFIFO(status.st_mode)) {
            tree[relative] = "fifo " + mode_text(status.st_mode & 07777);
        } else {
            tree[relative] = "file " + mode_text(status.st_mode & 07777) + " " + zktest::read_file(path);
        }
    }
    ::closedir(dir);
}

}  // namespace

std::string tar_header(const TarEntry& entry) {
    std::string header(BLOCK, '\0');
    put_field(header, 0, 100, entry.name);
    put_field(header, 100, 8, entry.mode);
    put_field(header, 108, 8, "0000000");
    put_field(header, 116, 8, "0000000");
    put_field(header, 124, 12, entry.size.empty() ? octal(entry.data.size()) : entry.size);
    put_field(header, 136, 12, entry.mtime);
    header[156] = entry.type;
    put_field(header, 157, 100, entry.link);
    put_field(header, 257, 8, entry.magic);
    put_field(header, 345, 155, entry.prefix);
    // The checksum counts its own field as blanks.
    put_field(header, 148, 8, std::string(8, ' '));
    unsigned sum = 0;
    for (unsigned char ch : header) sum += ch;
    std::array<char, 8> text;
    std::snprintf(text.data(), text.size(), "%06o", sum);
    put_field(header, 148, 7, text.data());
    return header;
}

std::string tar_archive(const std::vector<TarEntry>& entries) {
    std::string archive;
    for (const TarEntry& entry : entries) {
        archive += tar_header(entry) + entry.data;
        archive.append((BLOCK - entry.data.size() % BLOCK) % BLOCK, '\0');
    }
    return archive + std::string(2 * BLOCK, '\0');
}

std::string bzip2_compress(const std::string& bytes) {
    // bzip2's own bound: the input plus 1% plus 600 bytes.
    std::string compressed(bytes.size() + bytes.size() / 100 + 600, '\0');
    auto length = static_cast<unsigned>(compressed.size());
    if (BZ2_bzBuffToBuffCompress(compressed.data(), &length, const_cast<char*>(bytes.data()),
                                 static_cast<unsigned>(bytes.size()), 9, 0, 0) != BZ_OK) {
        throw std::runtime_error("bzip2 compression failed");
    }
    compressed.resize(length);
    return compressed;
}

std::string zstd_compress(const std::string& bytes) {
    std::string compressed(ZSTD_compressBound(bytes.size()), '\0');
    const size_t length = ZSTD_compress(compressed.data(), compressed.size(), bytes.data(), bytes.size(), 3);
    if (ZSTD_isError(length)) throw std::runtime_error("zstd compression failed");
    compressed.resize(length);
    return compressed;
}

std::string noise(size_t size) {
    std::string text(size, '\0');
    uint32_t state = 12345;
    for (char& ch : text) {
        state = state * 1103515245 + 12345;
        ch = static_cast<char>(state >> 23);
    }
    return text;
}

Tree tree_of(const std::string& root, const std::string& left_out) {
    Tree tree;
    walk(root, "", tree, left_out);
    return tree;
}

StdoutCapture::StdoutCapture(const std::string& dir) : saved_fd_(::dup(1)), path_(dir + "/stdout.XXXXXX") {
    std::fflush(stdout);
    const int fd = ::mkstemp(path_.data());
    if (fd < 0) throw std::runtime_error("mkstemp failed");
    ::dup2(fd, 1);
    ::close(fd);
}

std::string StdoutCapture::text() {
    if (!done_) {
        std::fflush(stdout);
        ::dup2(saved_fd_, 1);
        done_ = true;
    }
    return zktest::read_file(path_);
}

StdoutCapture::~StdoutCapture() {
    text();
    ::close(saved_fd_);
    ::unlink(path_.c_str());
}

}  // namespace archive_test
