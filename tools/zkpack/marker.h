// The package marker: assembled at run time, and searched for in a stream.
#pragma once

#include "format.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace zkpack {

using Marker = std::array<unsigned char, MARKER_SIZE>;

const Marker& package_marker();

// Finds the first occurrence of the marker in bytes fed in order, in pieces
// of any size.
class MarkerSearch {
public:
    // Returns true once the marker has been seen (and from then on).
    bool feed(const unsigned char* data, size_t length);
    bool found() const { return found_; }
    // The offset of the marker's first byte in the stream; valid once found.
    uint64_t offset() const { return offset_; }

private:
    uint64_t consumed_ = 0;
    size_t matched_ = 0;
    bool found_ = false;
    uint64_t offset_ = 0;
};

}  // namespace zkpack
