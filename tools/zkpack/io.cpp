#include "io.h"

#include "input_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>
#include <vector>

namespace zkpack {

namespace {

constexpr size_t BLOCK_SIZE = 64 * 1024;

}  // namespace

void fail(const std::string& subject, const std::string& reason) { throw Failure{subject + ": " + reason}; }

void fail_system(const std::string& subject, const std::string& action) {
    fail(subject, action + ": " + std::strerror(errno));
}

FileDescriptor::~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
}

FileDescriptor& FileDescriptor::operator=(FileDescriptor&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = other.release();
    }
    return *this;
}

int FileDescriptor::release() { return std::exchange(fd_, -1); }

FileDescriptor open_for_reading(const std::string& path) {
    const input_file::Opened opened = input_file::open_regular(path.c_str());
    if (opened.not_regular) fail(path, input_file::NOT_REGULAR);
    if (opened.fd < 0) fail_system(path, "cannot open");
    return FileDescriptor(opened.fd);
}

uint64_t size_of(int fd, const std::string& path) {
    struct stat status;
    if (::fstat(fd, &status) != 0) fail_system(path, "cannot read its status");
    return static_cast<uint64_t>(status.st_size);
}

FileStamp stamp_of(int fd, const std::string& path) {
    struct stat status;
    if (::fstat(fd, &status) != 0) fail_system(path, "cannot read its status");
    return {static_cast<uint64_t>(status.st_size), static_cast<int64_t>(status.st_mtim.tv_sec), status.st_mtim.tv_nsec};
}

void check_unchanged(int fd, const std::string& path, const FileStamp& before) {
    const FileStamp after = stamp_of(fd, path);
    if (after.size != before.size || after.mtime_seconds != before.mtime_seconds ||
        after.mtime_nanoseconds != before.mtime_nanoseconds) {
        fail(path, "changed while being packed");
    }
}

size_t read_at(int fd, unsigned char* buf, size_t length, uint64_t offset, const std::string& path) {
    size_t done = 0;
    while (done < length) {
        const ssize_t n = ::pread(fd, buf + done, length - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) fail_system(path, "cannot read");
        if (n == 0) break;
        done += static_cast<size_t>(n);
    }
    return done;
}

void for_each_block(int fd, const std::string& path, uint64_t from, uint64_t to, const BlockUse& use) {
    std::vector<unsigned char> block(BLOCK_SIZE);
    while (from < to) {
        const size_t wanted = static_cast<size_t>(std::min<uint64_t>(block.size(), to - from));
        const size_t n = read_at(fd, block.data(), wanted, from, path);
        if (n == 0 || !use(block.data(), n)) return;
        from += n;
    }
}

ByteSource range_source(int fd, const std::string& path, uint64_t from, uint64_t to) {
    return [fd, path, position = from, to](unsigned char* buf, size_t capacity) mutable {
        const size_t wanted = static_cast<size_t>(std::min<uint64_t>(capacity, to - std::min(position, to)));
        const size_t n = read_at(fd, buf, wanted, position, path);
        position += n;
        return n;
    };
}

void write_all_at(int fd, const unsigned char* buf, size_t length, uint64_t offset, const std::string& path) {
    while (length > 0) {
        const ssize_t n = ::pwrite(fd, buf, length, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) fail_system(path, "cannot write");
        buf += n;
        offset += static_cast<uint64_t>(n);
        length -= static_cast<size_t>(n);
    }
}

}  // namespace zkpack
