// The installer being written: a temporary file beside its final name,
// renamed into place only when complete, removed otherwise.
#pragma once

#include "io.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace zkpack {

class PackageOutput {
public:
    explicit PackageOutput(const std::string& path);
    ~PackageOutput();
    PackageOutput(const PackageOutput&) = delete;
    PackageOutput& operator=(const PackageOutput&) = delete;

    uint64_t size() const { return size_; }
    void append(const unsigned char* data, size_t length);
    // Fails, naming the source, when that many more bytes would take the
    // file to the installer's size limit.
    void check_room(uint64_t more, const std::string& source) const;
    void patch32(uint64_t offset, uint32_t value);
    // The package checksum of everything written so far, the header at
    // marker_offset.
    uint32_t checksum(uint64_t marker_offset);
    // Mode 0755, then the rename to the final name.
    void commit();

private:
    void flush();

    std::string path_;
    std::string temp_path_;
    FileDescriptor file_;
    std::vector<unsigned char> buffer_;
    uint64_t flushed_ = 0;
    uint64_t size_ = 0;
    bool committed_ = false;
};

// Sees each block of a file before it is appended; may fail.
using BlockCheck = std::function<void(const unsigned char* block, size_t length)>;

// Appends the bytes of the file at path, read block by block.
void append_file(PackageOutput& output, const std::string& path, const BlockCheck& check = nullptr);

}  // namespace zkpack
