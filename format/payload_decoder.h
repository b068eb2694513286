// A payload's decoder, chosen by its first stream's magic: bzip2 ("BZh"),
// zstd (28 B5 2F FD) or xz (FD 37 7A 58 5A 00). The first bytes of the
// three differ, so the first byte chooses. Every stream's magic is checked
// here as its bytes come, so that bytes after a stream that are not another
// one of the same compression are told from a stream cut short, however
// few they are. Later streams of the payload are of the same compression.
#pragma once

#include <cstddef>
#include <memory>

#include "decoder.h"

namespace payload_codec {

enum class Compression { unknown, bzip2, zstd, xz };

Compression compression_of(const unsigned char* head, size_t length);
// "bzip2", "zstd", "xz", or "unknown compression".
const char* compression_name(Compression compression);

class PayloadDecoder final : public Decoder {
public:
    // threads: how many an xz payload's blocks decode on.
    explicit PayloadDecoder(int threads = 1) : threads_(threads) {}

    bool start() override;
    Step decode(const unsigned char*& input, size_t& input_size, unsigned char*& output,
                size_t& output_size) override;
    int error_code() const override { return chosen_ ? chosen_->error_code() : 0; }
    bool input_ended() override { return chosen_ && chosen_->input_ended(); }

    Compression compression() const { return compression_; }

private:
    int threads_;
    Compression compression_ = Compression::unknown;
    std::unique_ptr<Decoder> chosen_;
    size_t stream_consumed_ = 0;  // of the stream's magic, as far as it goes
};

}  // namespace payload_codec
