// Files for the packer: descriptors that close themselves, and reads and
// writes that report a failure naming the file instead of returning it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace zkpack {

// Ends the current command; main prints "zkpack: " and the message.
struct Failure {
    std::string message;
};

// Usage mistakes: main adds a pointer to --help and exits 2.
struct UsageError {
    std::string message;
};

[[noreturn]] void fail(const std::string& subject, const std::string& reason);
// The same, with the system's reason for the last failed call appended.
[[noreturn]] void fail_system(const std::string& subject, const std::string& action);

class FileDescriptor {
public:
    explicit FileDescriptor(int fd = -1) : fd_(fd) {}
    ~FileDescriptor();
    FileDescriptor(FileDescriptor&& other) noexcept : fd_(other.release()) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept;
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int get() const { return fd_; }
    int release();

private:
    int fd_;
};

// Every input file: it must be a regular file, and a FIFO does not hold the open.
FileDescriptor open_for_reading(const std::string& path);
uint64_t size_of(int fd, const std::string& path);

// A file's size and modification time: if either changes while the file is
// read, the bytes read may mix two versions of it.
struct FileStamp {
    uint64_t size;
    int64_t mtime_seconds;
    long mtime_nanoseconds;
};
FileStamp stamp_of(int fd, const std::string& path);
// Fails, naming the file, when its stamp is no longer `before`.
void check_unchanged(int fd, const std::string& path, const FileStamp& before);
// Reads up to length bytes at the offset, fewer only at the end of the file.
size_t read_at(int fd, unsigned char* buf, size_t length, uint64_t offset, const std::string& path);
// Hands the bytes from offset from up to offset to (or the end of the file)
// to use, block by block, until use returns false.
using BlockUse = std::function<bool(const unsigned char* block, size_t length)>;
void for_each_block(int fd, const std::string& path, uint64_t from, uint64_t to, const BlockUse& use);
void write_all_at(int fd, const unsigned char* buf, size_t length, uint64_t offset, const std::string& path);

// Streams of bytes between the packer's stages: a source fills up to
// capacity bytes and returns how many (0 at the end); a sink takes them all
// or fails.
using ByteSource = std::function<size_t(unsigned char* buf, size_t capacity)>;
using ByteSink = std::function<void(const unsigned char* data, size_t length)>;

// The bytes of a file from offset from up to offset to (or its end).
ByteSource range_source(int fd, const std::string& path, uint64_t from, uint64_t to);

}  // namespace zkpack
