#include "package_format.h"

#include <cstring>

namespace package_format {

bool MarkerSearch::feed(const unsigned char* data, size_t length) {
    const Marker& marker = package_marker();
    for (size_t i = 0; i < length && !found_; ++i) {
        if (matched_ == 0) {
            const void* first = std::memchr(data + i, marker[0], length - i);
            if (first == nullptr) break;
            i = static_cast<size_t>(static_cast<const unsigned char*>(first) - data);
        }
        if (data[i] == marker[matched_]) {
            ++matched_;
        } else {
            // The first byte occurs nowhere else in the marker, so a broken
            // match can only restart at this byte.
            matched_ = data[i] == marker[0] ? 1 : 0;
        }
        if (matched_ == MARKER_SIZE) {
            found_ = true;
            offset_ = consumed_ + i + 1 - MARKER_SIZE;
        }
    }
    consumed_ += length;
    return found_;
}

}  // namespace package_format
