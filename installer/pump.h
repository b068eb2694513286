// The decompression pump: the payload decoder shared with zkpack, driven
// between a read callback that supplies compressed bytes and a write
// callback that takes the decompressed ones. Script and archive records run it over their
// payload through the payload window.
#pragma once

#include <cstddef>
#include <cstdint>

#include "bzip2_streams.h"

struct PumpContext;

// Places at most `capacity` compressed bytes at `destination`; returns how
// many, 0 when no more input will come, or a negative value when the input
// cannot be read whole.
using PumpRead = int32_t (*)(PumpContext* context, unsigned char* destination, int32_t capacity);
// Takes `count` decompressed bytes (0 to PUMP_OUTPUT_SIZE); returns 0, or -1
// when they could not be written, which ends the decoding.
using PumpWrite = int32_t (*)(PumpContext* context, const unsigned char* source, int32_t count);

// Built by each bzunzip call and handed to every callback it makes.
struct PumpContext {
    void* opaque;
    PumpRead read_fn;
    PumpWrite write_fn;
};

constexpr size_t PUMP_INPUT_SIZE = bzip2_streams::INPUT_SIZE;
constexpr size_t PUMP_OUTPUT_SIZE = bzip2_streams::OUTPUT_SIZE;

constexpr int32_t PUMP_FAILED = -1;

// Decompresses the bzip2 streams that read_fn supplies back to back into
// write_fn, one delivery per decompressor call. Returns 0 once the input has
// ended right after a whole stream and every delivery was taken;
// PUMP_FAILED when the input ran out inside a stream (an empty input
// included) or could not be read, bytes that are not a stream follow one,
// a stream is corrupt, or a delivery was refused (the first refusal ends
// the decoding). A decompressor that cannot start ends the process.
int32_t bzunzip(void* opaque, PumpRead read_fn, PumpWrite write_fn);

// Starts serving the payload that begins at fd's current position; its
// length is the record prefix's first four bytes. Reads go through
// installer_state.package_fd.
void start_payload_window(int fd, const unsigned char* prefix);

constexpr int32_t PAYLOAD_CUT_SHORT = -1;

// Serves the current payload again, from its byte `offset` on.
void seek_payload_window(uint32_t offset);

// Read callback over the payload window: never hands out a byte past the
// payload's end. Returns PAYLOAD_CUT_SHORT when the file ends before the
// payload does, or cannot be read.
int32_t payload_read(PumpContext* context, unsigned char* destination, int32_t capacity);

// Write callback for -gz: the bytes go to standard output unchanged.
int32_t stdout_write(PumpContext* context, const unsigned char* source, int32_t count);
