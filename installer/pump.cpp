#include "pump.h"

#include <unistd.h>

#include <zk/base/byteorder.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>

#include "bzip2_streams.h"
#include "fatal.h"
#include "installer_state.h"

namespace {

// The current record's payload in the package file, read ahead a block at a
// time; one pump runs at a time, so one window serves them all.
struct PayloadWindow {
    uint32_t start_offset;  // file offset of the payload's first byte
    uint32_t payload_length;
    uint32_t payload_offset;     // file offset of the next byte to read into read_buf
    uint32_t payload_remaining;  // payload bytes not yet handed out
    std::array<unsigned char, PUMP_INPUT_SIZE> read_buf;
    int32_t read_pos;   // next byte of read_buf to hand out
    int32_t read_fill;  // valid bytes in read_buf
};

PayloadWindow payload_window;

// Reads the next block from payload_offset; false at the file's end or on an
// error. The seek makes the window independent of whoever else moved the file.
bool refill_read_buf() {
    PayloadWindow& window = payload_window;
    window.read_pos = 0;
    window.read_fill = 0;
    const int fd = installer_state.package_fd;
    if (::lseek(fd, static_cast<off_t>(window.payload_offset), SEEK_SET) < 0) return false;
    const ssize_t count = ::read(fd, window.read_buf.data(), window.read_buf.size());
    if (count <= 0) return false;
    window.read_fill = static_cast<int32_t>(count);
    return true;
}

}  // namespace

int32_t bzunzip(void* opaque, PumpRead read_fn, PumpWrite write_fn) {
    PumpContext context{opaque, read_fn, write_fn};
    const bzip2_streams::Result result = bzip2_streams::decode(
        &context,
        [](void* pump, unsigned char* destination, int32_t capacity) {
            auto* const current = static_cast<PumpContext*>(pump);
            return current->read_fn(current, destination, capacity);
        },
        [](void* pump, const unsigned char* source, int32_t count) {
            auto* const current = static_cast<PumpContext*>(pump);
            return current->write_fn(current, source, count);
        });
    if (result.outcome == bzip2_streams::Outcome::cannot_start) {
        std::fprintf(stderr, "bzDecompressInit: failed, ret=%d\n", result.error_code);
        fatal_exit();
    }
    return result.outcome == bzip2_streams::Outcome::whole ? 0 : PUMP_FAILED;
}

void start_payload_window(int fd, const unsigned char* prefix) {
    const off_t position = ::lseek(fd, 0, SEEK_CUR);
    payload_window.start_offset = static_cast<uint32_t>(position);
    payload_window.payload_length = zk::LGET32(prefix);
    seek_payload_window(0);
}

void seek_payload_window(uint32_t offset) {
    offset = std::min(offset, payload_window.payload_length);
    payload_window.payload_offset = payload_window.start_offset + offset;
    payload_window.payload_remaining = payload_window.payload_length - offset;
    payload_window.read_pos = 0;
    payload_window.read_fill = 0;
}

int32_t payload_read(PumpContext*, unsigned char* destination, int32_t capacity) {
    PayloadWindow& window = payload_window;
    uint32_t wanted = std::min(static_cast<uint32_t>(std::max(capacity, 0)), window.payload_remaining);
    int32_t delivered = 0;
    while (wanted > 0) {
        if (window.read_pos >= window.read_fill && !refill_read_buf()) {
            // The payload runs past the file's end, or the file cannot be read.
            return delivered != 0 ? delivered : PAYLOAD_CUT_SHORT;
        }
        const uint32_t n = std::min(static_cast<uint32_t>(window.read_fill - window.read_pos), wanted);
        std::memcpy(destination, window.read_buf.data() + window.read_pos, n);
        window.read_pos += static_cast<int32_t>(n);
        window.payload_offset += n;
        window.payload_remaining -= n;
        destination += n;
        delivered += static_cast<int32_t>(n);
        wanted -= n;
    }
    return delivered;
}

int32_t stdout_write(PumpContext*, const unsigned char* source, int32_t count) {
    if (count <= 0) return 0;
    return std::fwrite(source, static_cast<size_t>(count), 1, stdout) == 1 ? 0 : -1;
}
