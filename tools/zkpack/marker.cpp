#include "marker.h"

#include <cstring>

namespace zkpack {

namespace {

// The installer takes the first marker in its file, so no executable that
// may serve as its stub can hold the 14 bytes in one piece: here the tail
// comes first and a NUL stands between the pieces.
constexpr unsigned char MARKER_PIECES[] = {0x07, 'M', 'a', 'g', 'i', 'c', 0x00,
                                           0x01, 'I', 'n', 's', 't', 'a', 'l', 'l'};
constexpr size_t TAIL_AT = 0;
constexpr size_t HEAD_AT = MARKER_TAIL_SIZE + 1;
static_assert(sizeof MARKER_PIECES == HEAD_AT + MARKER_HEAD_SIZE);

Marker assemble_marker() {
    // Volatile reads keep the compiler from folding the pieces back into one
    // constant in the executable.
    const volatile unsigned char* pieces = MARKER_PIECES;
    Marker marker{};
    for (size_t i = 0; i < MARKER_HEAD_SIZE; ++i) marker[i] = pieces[HEAD_AT + i];
    for (size_t i = 0; i < MARKER_TAIL_SIZE; ++i) marker[MARKER_HEAD_SIZE + i] = pieces[TAIL_AT + i];
    return marker;
}

}  // namespace

const Marker& package_marker() {
    static const Marker marker = assemble_marker();
    return marker;
}

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

}  // namespace zkpack
