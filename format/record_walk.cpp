#include "record_walk.h"

#include <unistd.h>

#include <zk/base/byteorder.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>

namespace package_format {

int64_t DescriptorReader::read_at(unsigned char* destination, size_t count, uint64_t offset) {
    size_t done = 0;
    while (done < count) {
        const ssize_t n = ::pread(fd_, destination + done, count - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return -1;
        if (n == 0) break;
        done += static_cast<size_t>(n);
    }
    return static_cast<int64_t>(done);
}

WalkResult walk_records(PositionalReader& file, uint64_t start, uint64_t end,
                        const std::function<bool(const Record&)>& visit) {
    uint64_t offset = start;
    uint64_t index = 0;
    for (; offset < end; ++index) {
        std::array<unsigned char, PREFIX_SIZE> prefix;
        if (file.read_at(prefix.data(), prefix.size(), offset) != static_cast<int64_t>(prefix.size())) {
            return {WalkEnd::cut_short, offset, index};
        }
        const Record record{index, offset, zk::LGET32(prefix.data() + PREFIX_LENGTH), prefix[PREFIX_KIND]};
        if (!visit(record)) return {WalkEnd::stopped, offset, index};
        offset = record.end();
    }
    return {WalkEnd::package_end, offset, index};
}

int32_t PayloadReader::read(unsigned char* destination, int32_t capacity) {
    const auto wanted =
        static_cast<size_t>(std::min<uint64_t>(static_cast<uint64_t>(std::max(capacity, 0)), remaining()));
    if (wanted == 0) return 0;
    const uint64_t at = record_.payload_offset() + position_;
    if (ahead_at_ == ahead_.size()) {
        ahead_.clear();
        ahead_at_ = 0;
        if (wanted >= READ_AHEAD) {
            const int64_t count = file_->read_at(destination, wanted, at);
            if (count <= 0) return PAYLOAD_CUT_SHORT;
            position_ += static_cast<uint64_t>(count);
            return static_cast<int32_t>(count);
        }
        ahead_.resize(static_cast<size_t>(std::min<uint64_t>(READ_AHEAD, remaining())));
        const int64_t count = file_->read_at(ahead_.data(), ahead_.size(), at);
        // Fewer at the file's end: they are handed out, and the next read finds the end.
        ahead_.resize(static_cast<size_t>(std::max<int64_t>(count, 0)));
        if (count <= 0) return PAYLOAD_CUT_SHORT;
    }
    const size_t count = std::min(wanted, ahead_.size() - ahead_at_);
    std::memcpy(destination, ahead_.data() + ahead_at_, count);
    ahead_at_ += count;
    position_ += count;
    return static_cast<int32_t>(count);
}

bool PayloadReader::read_whole(unsigned char* destination, size_t count) {
    while (count > 0) {
        const int32_t n = read(destination, static_cast<int32_t>(std::min<size_t>(count, INT32_MAX)));
        if (n <= 0) return false;
        destination += n;
        count -= static_cast<size_t>(n);
    }
    return true;
}

bool PayloadReader::in_file() const {
    unsigned char last;
    return record_.length == 0 || file_->read_at(&last, 1, record_.end() - 1) == 1;
}

void PayloadReader::seek(uint64_t position) {
    position = std::min<uint64_t>(position, record_.length);
    // Within the fetched bytes they serve on; elsewhere they are dropped.
    const uint64_t fetched_from = position_ - ahead_at_;
    if (position >= fetched_from && position - fetched_from <= ahead_.size()) {
        ahead_at_ = static_cast<size_t>(position - fetched_from);
    } else {
        ahead_.clear();
        ahead_at_ = 0;
    }
    position_ = position;
}

}  // namespace package_format
