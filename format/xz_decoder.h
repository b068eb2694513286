// The xz decoder: liblzma's stream decoder, threaded over the stream's
// blocks when given more than one thread, its memory capped at the
// decoders' limit.
#pragma once

#include <lzma.h>

#include "decoder.h"

namespace payload_codec {

class XzDecoder final : public Decoder {
public:
    explicit XzDecoder(int threads = 1) : threads_(threads) {}
    ~XzDecoder() override { lzma_end(&stream_); }
    XzDecoder(const XzDecoder&) = delete;
    XzDecoder& operator=(const XzDecoder&) = delete;

    bool start() override;
    Step decode(const unsigned char*& input, size_t& input_size, unsigned char*& output,
                size_t& output_size) override;
    int error_code() const override { return error_code_; }
    // The threaded decoder takes input ahead of the output it gives.
    bool input_ended() override;

private:
    int threads_;
    lzma_stream stream_ = LZMA_STREAM_INIT;
    lzma_action action_ = LZMA_RUN;
    int error_code_ = LZMA_OK;
};

}  // namespace payload_codec
