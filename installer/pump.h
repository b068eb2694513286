// The decompression pump: compressed bytes pulled from a read callback
// through the payload decoder, decompressed bytes pushed into a write
// callback. Script and archive records run it over their payload.
#pragma once

#include <cstddef>
#include <cstdint>

#include "payload_decoder.h"
#include "record_walk.h"

struct PumpContext;

// Places at most `capacity` compressed bytes at `destination`; returns how
// many, 0 when no more input will come, or a negative value when the input
// cannot be read whole.
using PumpRead = int32_t (*)(PumpContext* context, unsigned char* destination, int32_t capacity);
// Takes `count` decompressed bytes (0 to PUMP_OUTPUT_SIZE); returns 0, or -1
// when they could not be written.
using PumpWrite = int32_t (*)(PumpContext* context, const unsigned char* source, int32_t count);

// Built by each bzunzip call and handed to every callback it makes.
struct PumpContext {
    void* opaque;
    PumpRead read_fn;
    PumpWrite write_fn;
};

// What the installer's callbacks of one pump run share, handed to bzunzip
// as its opaque value: the payload that payload_read serves, and the record
// that the write callback fills.
struct PumpSession {
    package_format::PayloadReader* payload;
    void* sink;
};

constexpr size_t PUMP_INPUT_SIZE = payload_codec::INPUT_SIZE;
constexpr size_t PUMP_OUTPUT_SIZE = payload_codec::OUTPUT_SIZE;

constexpr int32_t PUMP_FAILED = -1;

// Decompresses the streams that read_fn supplies back to back into
// write_fn, one delivery per decompressor call. Returns 0 once the input has
// ended right after a whole stream and every delivery was taken;
// PUMP_FAILED when the input ran out inside a stream (an empty input
// included) or could not be read, bytes that are not a stream follow one,
// a stream is corrupt, or a delivery was refused (which stops the decoding).
// A decompressor that cannot start ends the process.
int32_t bzunzip(void* opaque, PumpRead read_fn, PumpWrite write_fn);

// Read callback over the session's payload: never hands out a byte past the
// payload's end. Returns PAYLOAD_CUT_SHORT when the file ends before the
// payload does, or cannot be read.
int32_t payload_read(PumpContext* context, unsigned char* destination, int32_t capacity);

// The compression the payload's first byte names; the payload is then read
// again from its start.
payload_codec::Compression payload_compression(package_format::PayloadReader& payload);

// Write callback for -gz: the bytes go to standard output unchanged.
int32_t stdout_write(PumpContext* context, const unsigned char* source, int32_t count);

// The session's own record, as its write callback filled it in.
template <typename Sink>
Sink& session_sink(PumpContext* context) {
    return *static_cast<Sink*>(static_cast<PumpSession*>(context->opaque)->sink);
}
