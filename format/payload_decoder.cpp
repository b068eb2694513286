#include "payload_decoder.h"

#include "bzip2_decoder.h"
#include "xz_decoder.h"
#include "zstd_decoder.h"

#include <algorithm>
#include <string_view>

namespace payload_codec {

namespace {

std::string_view magic_of(Compression compression) {
    using namespace std::string_view_literals;
    switch (compression) {
        case Compression::bzip2: return "BZh"sv;
        case Compression::zstd: return "\x28\xB5\x2F\xFD"sv;
        case Compression::xz: return "\xFD\x37\x7A\x58\x5A\x00"sv;
        case Compression::unknown: break;
    }
    return {};
}

}  // namespace

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
    stream_consumed_ = 0;
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
    const std::string_view magic = magic_of(compression_);
    if (stream_consumed_ < magic.size()) {
        const size_t checked = std::min(input_size, magic.size() - stream_consumed_);
        for (size_t i = 0; i < checked; ++i) {
            if (input[i] != static_cast<unsigned char>(magic[stream_consumed_ + i])) return Step::not_a_stream;
        }
    }
    const size_t offered = input_size;
    const Step step = chosen_->decode(input, input_size, output, output_size);
    stream_consumed_ += offered - input_size;
    return step;
}

}  // namespace payload_codec
