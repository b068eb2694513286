#include "pump.h"

#include <cstdio>

#include "bzip2_decoder.h"
#include "fatal.h"

int32_t bzunzip(void* opaque, PumpRead read_fn, PumpWrite write_fn) {
    PumpContext context{opaque, read_fn, write_fn};
    payload_codec::Bzip2Decoder decoder;
    const payload_codec::Result result = payload_codec::decode_payload(
        decoder, [&](unsigned char* destination, int32_t capacity) { return read_fn(&context, destination, capacity); },
        [&](const unsigned char* source, size_t count) {
            return write_fn(&context, source, static_cast<int32_t>(count)) == 0;
        });
    if (result.outcome == payload_codec::Outcome::cannot_start) {
        std::fprintf(stderr, "bzDecompressInit: failed, ret=%d\n", result.error_code);
        fatal_exit();
    }
    return result.outcome == payload_codec::Outcome::whole ? 0 : PUMP_FAILED;
}

int32_t payload_read(PumpContext* context, unsigned char* destination, int32_t capacity) {
    return static_cast<PumpSession*>(context->opaque)->payload->read(destination, capacity);
}

int32_t stdout_write(PumpContext*, const unsigned char* source, int32_t count) {
    if (count <= 0) return 0;
    return std::fwrite(source, static_cast<size_t>(count), 1, stdout) == 1 ? 0 : -1;
}
