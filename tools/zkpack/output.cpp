#include "output.h"

#include "format.h"
#include "interruptions.h"

#include <zk/zk.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdint>

namespace zkpack {

namespace {

constexpr size_t BUFFER_SIZE = 64 * 1024;

}  // namespace

PackageOutput::PackageOutput(const std::string& path) : path_(path), temp_path_(path + ".XXXXXX") {
    catch_interruptions();
    {
        const InterruptionsHeld held;
        // Beside the final name, so the rename stays on one file system.
        file_ = FileDescriptor(::mkstemp(temp_path_.data()));
        if (file_.get() >= 0) remove_on_interruption(temp_path_.c_str());
    }
    if (file_.get() < 0) fail_system(path_, "cannot create");
    buffer_.reserve(BUFFER_SIZE);
}

PackageOutput::~PackageOutput() {
    const InterruptionsHeld held;
    remove_on_interruption(nullptr);
    if (!committed_) ::unlink(temp_path_.c_str());
}

void PackageOutput::check_room(uint64_t more, const std::string& source) const {
    if (size_ + more > MAX_FILE_SIZE) {
        fail(source, "would make the installer 4 GiB or larger, beyond its 32-bit offsets");
    }
}

void PackageOutput::append(const unsigned char* data, size_t length) {
    check_room(length, path_);
    size_ += length;
    while (length > 0) {
        const size_t piece = std::min(length, BUFFER_SIZE - buffer_.size());
        buffer_.insert(buffer_.end(), data, data + piece);
        data += piece;
        length -= piece;
        if (buffer_.size() == BUFFER_SIZE) flush();
    }
}

void PackageOutput::flush() {
    write_all_at(file_.get(), buffer_.data(), buffer_.size(), flushed_, temp_path_);
    flushed_ += buffer_.size();
    buffer_.clear();
}

void PackageOutput::patch32(uint64_t offset, uint32_t value) {
    flush();
    std::array<unsigned char, 4> field;
    zk::LPUT32(field.data(), value);
    write_all_at(file_.get(), field.data(), field.size(), offset, temp_path_);
}

uint32_t PackageOutput::checksum(uint64_t marker_offset) {
    flush();
    Checksum checksum(marker_offset);
    for_each_block(file_.get(), temp_path_, 0, size_, [&](const unsigned char* block, size_t length) {
        checksum.add(block, length);
        return true;
    });
    return checksum.value();
}

void PackageOutput::commit() {
    flush();
    if (::fchmod(file_.get(), 0755) != 0) fail_system(temp_path_, "cannot set mode 0755");
    if (::close(file_.release()) != 0) fail_system(temp_path_, "cannot write");
    const InterruptionsHeld held;
    if (::rename(temp_path_.c_str(), path_.c_str()) != 0)
        fail_system(path_, "cannot rename the finished file into place");
    committed_ = true;
    remove_on_interruption(nullptr);
}

void append_file(PackageOutput& output, const std::string& path, const BlockCheck& check) {
    const FileDescriptor input = open_for_reading(path);
    const FileStamp stamp = stamp_of(input.get(), path);
    output.check_room(size_of(input.get(), path), path);
    for_each_block(input.get(), path, 0, UINT64_MAX, [&](const unsigned char* block, size_t length) {
        if (check) check(block, length);
        output.append(block, length);
        return true;
    });
    check_unchanged(input.get(), path, stamp);
}

}  // namespace zkpack
