// The bzip2 decoder: libbzip2's stream decompressor, the one place that
// calls it.
#pragma once

#include <bzlib.h>

#include "bzip2_work_areas.h"
#include "decoder.h"

namespace payload_codec {

class Bzip2Decoder final : public Decoder {
public:
    // With work areas, a thread that decodes stream after stream keeps
    // libbzip2's memory between them; without, libbzip2 allocates its own.
    explicit Bzip2Decoder(bzip2_blocks::WorkAreas* areas = nullptr) : areas_(areas) {}
    ~Bzip2Decoder() override { end(); }
    Bzip2Decoder(const Bzip2Decoder&) = delete;
    Bzip2Decoder& operator=(const Bzip2Decoder&) = delete;

    bool start() override;
    Step decode(const unsigned char*& input, size_t& input_size, unsigned char*& output,
                size_t& output_size) override;
    int error_code() const override { return error_code_; }

private:
    void end();

    bzip2_blocks::WorkAreas* areas_;
    bz_stream stream_{};
    bool started_ = false;
    int error_code_ = BZ_OK;
};

}  // namespace payload_codec
