#include "zstd_decoder.h"

namespace payload_codec {

namespace {

// The largest window under MEMORY_LIMIT with the decoder's own buffers
// beside it: 128 MB, what zstd --long and --ultra -22 write.
constexpr int WINDOW_LOG_MAX = 27;
static_assert((1ULL << (WINDOW_LOG_MAX + 1)) == MEMORY_LIMIT, "a window one step larger passes the limit");

}  // namespace

bool ZstdDecoder::start() {
    if (context_ == nullptr) {
        context_ = ZSTD_createDCtx();
        if (context_ == nullptr) {
            error_code_ = ZSTD_error_memory_allocation;
            return false;
        }
        const size_t set = ZSTD_DCtx_setParameter(context_, ZSTD_d_windowLogMax, WINDOW_LOG_MAX);
        if (ZSTD_isError(set)) {
            error_code_ = ZSTD_getErrorCode(set);
            return false;
        }
    }
    // The window limit is a parameter, kept across sessions.
    ZSTD_DCtx_reset(context_, ZSTD_reset_session_only);
    return true;
}

Step ZstdDecoder::decode(const unsigned char*& input, size_t& input_size, unsigned char*& output,
                         size_t& output_size) {
    ZSTD_inBuffer in{input, input_size, 0};
    ZSTD_outBuffer out{output, output_size, 0};
    const size_t status = ZSTD_decompressStream(context_, &out, &in);
    input += in.pos;
    input_size -= in.pos;
    output += out.pos;
    output_size -= out.pos;
    if (!ZSTD_isError(status)) return status == 0 ? Step::stream_end : Step::more;
    const ZSTD_ErrorCode code = ZSTD_getErrorCode(status);
    error_code_ = code;
    switch (code) {
        case ZSTD_error_prefix_unknown: return Step::not_a_stream;
        case ZSTD_error_frameParameter_windowTooLarge: return Step::over_limit;
        case ZSTD_error_memory_allocation: return Step::cannot_start;
        default: return Step::corrupt;
    }
}

}  // namespace payload_codec
