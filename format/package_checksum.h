// The package checksum: the CRC-32 of the whole installer file, the stub
// included, with the header's checksum field taken as zeros. The installer,
// zkpack's reader and its writer compute it here alone.
#pragma once

#include <cstddef>
#include <cstdint>

namespace package_format {

// Bytes of the file are added in order, in pieces of any size; the bytes of
// the checksum field count as zeros wherever a piece falls. Each value holds
// its own register, so nothing else running a CRC disturbs it.
class Checksum {
public:
    // marker_offset: where the header starts in the file.
    explicit Checksum(uint64_t marker_offset);

    void add(const unsigned char* bytes, size_t length);
    // The checksum of the bytes added so far.
    uint32_t value() const { return ~register_; }

private:
    uint64_t field_;
    uint64_t added_ = 0;
    uint32_t register_ = 0xFFFFFFFF;
};

}  // namespace package_format
