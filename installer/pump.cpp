#include "pump.h"

#include <cstdio>

#include "fatal.h"
#include "parallel_pump.h"

int32_t bzunzip(void* opaque, PumpRead read_fn, PumpWrite write_fn) {
    PumpContext context{opaque, read_fn, write_fn};
    payload_codec::PayloadDecoder decoder(decoding_threads());
    const payload_codec::Result result = payload_codec::decode_payload(
        decoder, [&](unsigned char* destination, int32_t capacity) { return read_fn(&context, destination, capacity); },
        [&](const unsigned char* source, size_t count) {
            return write_fn(&context, source, static_cast<int32_t>(count)) == 0;
        });
    if (result.outcome == payload_codec::Outcome::cannot_start) {
        // bzip2's report is the one the installer has always given.
        if (decoder.compression() == payload_codec::Compression::bzip2) {
            std::fprintf(stderr, "bzDecompressInit: failed, ret=%d\n", result.error_code);
        } else {
            std::fprintf(stderr, "Cannot start a %s decompressor, error %d\n",
                         payload_codec::compression_name(decoder.compression()), result.error_code);
        }
        fatal_exit();
    }
    if (result.outcome == payload_codec::Outcome::over_limit) {
        std::fprintf(stderr, "Compressed data needs more than %d MB of memory to decode\n",
                     payload_codec::MEMORY_LIMIT_MB);
    }
    return result.outcome == payload_codec::Outcome::whole ? 0 : PUMP_FAILED;
}

int32_t payload_read(PumpContext* context, unsigned char* destination, int32_t capacity) {
    return static_cast<PumpSession*>(context->opaque)->payload->read(destination, capacity);
}

payload_codec::Compression payload_compression(package_format::PayloadReader& payload) {
    unsigned char first = 0;
    const int32_t count = payload.read(&first, 1);
    payload.seek(0);
    return payload_codec::compression_of(&first, count > 0 ? 1 : 0);
}

int32_t stdout_write(PumpContext*, const unsigned char* source, int32_t count) {
    if (count <= 0) return 0;
    return std::fwrite(source, static_cast<size_t>(count), 1, stdout) == 1 ? 0 : -1;
}
