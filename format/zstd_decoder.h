// The zstd decoder: libzstd's streaming decompressor, its window capped at
// the decoders' memory limit.
#pragma once

#include <zstd.h>
#include <zstd_errors.h>

#include "decoder.h"

namespace payload_codec {

class ZstdDecoder final : public Decoder {
public:
    ZstdDecoder() = default;
    ~ZstdDecoder() override { ZSTD_freeDCtx(context_); }
    ZstdDecoder(const ZstdDecoder&) = delete;
    ZstdDecoder& operator=(const ZstdDecoder&) = delete;

    bool start() override;
    Step decode(const unsigned char*& input, size_t& input_size, unsigned char*& output,
                size_t& output_size) override;
    int error_code() const override { return error_code_; }
    // A frame's last block can be held whole while the output has no room.
    bool input_ended() override { return true; }

private:
    ZSTD_DCtx* context_ = nullptr;
    int error_code_ = 0;
};

}  // namespace payload_codec
