// A record's bzip2 payload: one stream, or several back to back as
// block-parallel compressors write them, decoded in turn until the input
// ends. The installer unpacks payloads through it and zkpack reads them
// through it, so a payload zkpack shows whole is one the installer takes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace bzip2_streams {

constexpr size_t INPUT_SIZE = 2048;
constexpr size_t OUTPUT_SIZE = 4096;

// Places at most `capacity` compressed bytes at `destination`; returns how
// many, 0 when no more input will come, or a negative value when the input
// cannot be read whole.
using Read = int32_t (*)(void* context, unsigned char* destination, int32_t capacity);
// Takes `count` decompressed bytes (0 to OUTPUT_SIZE); returns 0, or nonzero
// when they could not be taken.
using Write = int32_t (*)(void* context, const unsigned char* source, int32_t count);

enum class Outcome {
    whole,         // the input ended right after a whole stream
    cut_short,     // the input ended inside a stream, or held none
    not_a_stream,  // bytes that do not start a stream where one should start
    corrupt,       // a stream's data is damaged
    unreadable,    // the input could not be read
    cannot_start,  // libbzip2 could not set up a decompressor
    refused,       // a delivery was not taken: decoding stopped there
};

struct Result {
    Outcome outcome = Outcome::whole;
    int error_code = 0;     // libbzip2's, for corrupt, not_a_stream and cannot_start
    uint64_t streams = 0;   // streams decoded whole
    uint64_t consumed = 0;  // input bytes up to the end of the last whole stream
};

// Decodes the streams that `read` supplies into `write`, one delivery per
// decompressor call. A corrupt stream delivers nothing of the call that
// found it. The first refused delivery ends decoding: a payload that
// expands without end into a full disk costs no more than what was written.
Result decode(void* context, Read read, Write write);

}  // namespace bzip2_streams
