// The marker's pieces live in this translation unit alone: the tail comes
// first and a NUL stands between them, and volatile reads join them at run
// time, so no optimisation can fold them into one constant in an executable.
#include "package_format.h"

namespace package_format {

namespace {

constexpr unsigned char MARKER_PIECES[] = {0x07, 'M', 'a', 'g', 'i', 'c', 0x00, 0x01,
                                           'I',  'n', 's', 't', 'a', 'l', 'l'};
constexpr size_t TAIL_AT = 0;
constexpr size_t HEAD_AT = MARKER_TAIL_SIZE + 1;
static_assert(sizeof MARKER_PIECES == HEAD_AT + MARKER_HEAD_SIZE);

Marker assemble_marker() {
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

}  // namespace package_format
