// Compressed payloads: one decoder interface, whatever the compression, and
// the one loop that decodes a payload's streams back to back through it.
// The installer unpacks payloads through it and zkpack reads them through
// it, so a payload zkpack shows whole is one the installer takes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace payload_codec {

constexpr size_t INPUT_SIZE = 2048;
constexpr size_t OUTPUT_SIZE = 4096;

// The most memory a stream may ask of its decoder (a zstd window, an xz
// dictionary and its buffers): hostile input costs what honest input does.
// zkpack writes no level that comes near it.
constexpr uint64_t MEMORY_LIMIT = 256ULL << 20;
constexpr int MEMORY_LIMIT_MB = 256;

enum class Step {
    more,          // went on; give it more input or more room
    stream_end,    // the stream ended soundly
    not_a_stream,  // the input does not start a stream
    corrupt,       // the stream's data is damaged
    over_limit,    // the stream needs more than MEMORY_LIMIT to decode
    cannot_start,  // the decompressor could not be set up
};

// One compression's stream decompressor.
class Decoder {
public:
    virtual ~Decoder() = default;
    // Sets up for a new stream; false, with error_code(), when it cannot.
    virtual bool start() = 0;
    // Decodes what it can of `input` into `output`, advancing both
    // pointers and reducing both sizes by what it took and gave.
    virtual Step decode(const unsigned char*& input, size_t& input_size, unsigned char*& output,
                        size_t& output_size) = 0;
    // The library's own code for the last failure to start or decode.
    virtual int error_code() const = 0;
    // No input will follow: whether decode() may still give output from
    // what it holds (later calls then get no input).
    virtual bool input_ended() { return false; }
};

enum class Outcome {
    whole,         // the input ended right after a whole stream
    cut_short,     // the input ended inside a stream, or held none
    not_a_stream,  // bytes that do not start a stream where one should start
    corrupt,       // a stream's data is damaged
    over_limit,    // a stream needs more memory than MEMORY_LIMIT
    unreadable,    // the input could not be read
    cannot_start,  // the decompressor could not be set up
    refused,       // a delivery was not taken: decoding stopped there
};

struct Result {
    Outcome outcome = Outcome::whole;
    int error_code = 0;     // the library's, for corrupt, not_a_stream and cannot_start
    uint64_t streams = 0;   // streams decoded whole
    uint64_t consumed = 0;  // input bytes up to the end of the last whole stream
};

constexpr Outcome failure_outcome(Step step) {
    switch (step) {
        case Step::not_a_stream: return Outcome::not_a_stream;
        case Step::over_limit: return Outcome::over_limit;
        case Step::cannot_start: return Outcome::cannot_start;
        default: return Outcome::corrupt;
    }
}

// Decodes the streams that `read` supplies into `write`, one delivery per
// decoder call, also when it gave nothing. `read(destination, capacity)`
// returns the count placed, 0 when no more input will come, or a negative
// value when the input cannot be read whole; `write(source, count)` returns
// false when it does not take the bytes. A corrupt stream delivers nothing
// of the call that found it. The first refused delivery ends decoding: a
// payload that expands without end into a full disk costs no more than
// what was written.
template <typename Read, typename Write>
Result decode_payload(Decoder& decoder, Read&& read, Write&& write) {
    Result result;
    std::array<unsigned char, INPUT_SIZE> input;
    std::array<unsigned char, OUTPUT_SIZE> output;
    const unsigned char* next_in = input.data();
    size_t avail_in = 0;
    uint64_t read_total = 0;
    bool stream_ended = true;  // the last stream is whole; input may hold another
    bool input_over = false;   // the input ended inside a stream; the decoder still drains
    for (;;) {
        if (avail_in == 0 && !input_over) {
            const int32_t count = read(input.data(), static_cast<int32_t>(input.size()));
            if (count < 0) {
                result.outcome = Outcome::unreadable;
                break;
            }
            if (count == 0) {
                if (stream_ended || !decoder.input_ended()) {
                    if (!stream_ended || result.streams == 0) result.outcome = Outcome::cut_short;
                    break;
                }
                input_over = true;
            }
            read_total += static_cast<uint64_t>(count);
            next_in = input.data();
            avail_in = static_cast<size_t>(count);
        }
        if (stream_ended) {
            if (!decoder.start()) {
                result.outcome = Outcome::cannot_start;
                result.error_code = decoder.error_code();
                break;
            }
            stream_ended = false;
        }
        unsigned char* next_out = output.data();
        size_t avail_out = output.size();
        const Step step = decoder.decode(next_in, avail_in, next_out, avail_out);
        if (step != Step::more && step != Step::stream_end) {
            result.outcome = failure_outcome(step);
            result.error_code = decoder.error_code();
            break;
        }
        if (!write(output.data(), output.size() - avail_out)) {
            result.outcome = Outcome::refused;
            break;
        }
        if (step == Step::stream_end) {
            stream_ended = true;
            ++result.streams;
            result.consumed = read_total - avail_in;
            if (input_over) break;
        } else if (input_over && avail_out == output.size()) {
            result.outcome = Outcome::cut_short;
            break;
        }
    }
    return result;
}

}  // namespace payload_codec
