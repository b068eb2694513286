#include "payload_decoder.h"

#include "bzip2_decoder.h"
#include "xz_decoder.h"
#include "zstd_decoder.h"

namespace payload_codec {

Compression compression_of(const unsigned char* head, size_t length) {
    if (length == 0) return Compression::unknown;
    switch (head[0]) {
        case 'B': return Compression::bzip2;
        case 0x28: return Compression::zstd;
        case 0xFD: return Compression::xz;
        default: return Compression::unknown;
    }
}

const char* compression_name(Compression compression) {
    switch (compression) {
        case Compression::bzip2: return "bzip2";
        case Compression::zstd: return "zstd";
        case Compression::xz: return "xz";
        case Compression::unknown: break;
    }
    return "unknown compression";
}

bool PayloadDecoder::start() {
    // The first stream's decoder starts once its first byte is seen.
    return !chosen_ || chosen_->start();
}

Step PayloadDecoder::decode(const unsigned char*& input, size_t& input_size, unsigned char*& output,
                            size_t& output_size) {
    if (!chosen_) {
        compression_ = compression_of(input, input_size);
        switch (compression_) {
            case Compression::bzip2: chosen_ = std::make_unique<Bzip2Decoder>(); break;
            case Compression::zstd: chosen_ = std::make_unique<ZstdDecoder>(); break;
            case Compression::xz: chosen_ = std::make_unique<XzDecoder>(threads_); break;
            case Compression::unknown: return Step::not_a_stream;
        }
        if (!chosen_->start()) return Step::cannot_start;
    }
    return chosen_->decode(input, input_size, output, output_size);
}

}  // namespace payload_codec
