#include "bzip2_decoder.h"

#include <algorithm>
#include <climits>

namespace payload_codec {

bool Bzip2Decoder::start() {
    end();
    stream_ = bz_stream{};
    if (areas_ != nullptr) {
        stream_.bzalloc = bzip2_blocks::WorkAreas::allocate;
        stream_.bzfree = bzip2_blocks::WorkAreas::release;
        stream_.opaque = areas_;
    }
    error_code_ = BZ2_bzDecompressInit(&stream_, 0, 0);
    started_ = error_code_ == BZ_OK;
    return started_;
}

Step Bzip2Decoder::decode(const unsigned char*& input, size_t& input_size, unsigned char*& output,
                          size_t& output_size) {
    // libbzip2 counts in unsigned int: larger pieces go in parts.
    const auto in = static_cast<unsigned>(std::min<size_t>(input_size, UINT_MAX));
    const auto out = static_cast<unsigned>(std::min<size_t>(output_size, UINT_MAX));
    stream_.next_in = const_cast<char*>(reinterpret_cast<const char*>(input));
    stream_.avail_in = in;
    stream_.next_out = reinterpret_cast<char*>(output);
    stream_.avail_out = out;
    const int status = BZ2_bzDecompress(&stream_);
    input += in - stream_.avail_in;
    input_size -= in - stream_.avail_in;
    output += out - stream_.avail_out;
    output_size -= out - stream_.avail_out;
    switch (status) {
        case BZ_OK: return Step::more;
        case BZ_STREAM_END: return Step::stream_end;
        default: error_code_ = status; return status == BZ_DATA_ERROR_MAGIC ? Step::not_a_stream : Step::corrupt;
    }
}

void Bzip2Decoder::end() {
    if (started_) BZ2_bzDecompressEnd(&stream_);
    started_ = false;
}

}  // namespace payload_codec
