#include "xz_decoder.h"

namespace payload_codec {

bool XzDecoder::start() {
    action_ = LZMA_RUN;
    // Set up again on the same stream, liblzma keeps what memory it can.
    if (threads_ > 1) {
        lzma_mt options{};
        options.threads = static_cast<uint32_t>(threads_);
        // Above the limit the threads give way to one: only a stream that
        // one thread cannot decode within it is refused.
        options.memlimit_threading = MEMORY_LIMIT;
        options.memlimit_stop = MEMORY_LIMIT;
        error_code_ = lzma_stream_decoder_mt(&stream_, &options);
    } else {
        error_code_ = lzma_stream_decoder(&stream_, MEMORY_LIMIT, 0);
    }
    return error_code_ == LZMA_OK;
}

Step XzDecoder::decode(const unsigned char*& input, size_t& input_size, unsigned char*& output,
                       size_t& output_size) {
    stream_.next_in = input;
    stream_.avail_in = input_size;
    stream_.next_out = output;
    stream_.avail_out = output_size;
    const lzma_ret status = lzma_code(&stream_, action_);
    input = stream_.next_in;
    input_size = stream_.avail_in;
    output = stream_.next_out;
    output_size = stream_.avail_out;
    switch (status) {
        case LZMA_OK:
        // No progress: the caller gives more input or ends.
        case LZMA_BUF_ERROR: return Step::more;
        case LZMA_STREAM_END: return Step::stream_end;
        default: break;
    }
    error_code_ = status;
    switch (status) {
        case LZMA_FORMAT_ERROR: return Step::not_a_stream;
        case LZMA_MEMLIMIT_ERROR: return Step::over_limit;
        case LZMA_MEM_ERROR: return Step::cannot_start;
        default: return Step::corrupt;
    }
}

bool XzDecoder::input_ended() {
    action_ = LZMA_FINISH;
    return true;
}

}  // namespace payload_codec
