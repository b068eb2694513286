#include "stream_compressors.h"

#include "compressor.h"

#include <lzma.h>
#include <zstd.h>

#include <array>
#include <utility>
#include <vector>

namespace zkpack {

namespace {

using payload_codec::Compression;

constexpr size_t OUTPUT_PIECE = 64 * 1024;

struct LevelRange {
    Compression compression;
    const char* name;
    int lowest;
    int highest;
    int fallback;
};

// zstd 19 keeps its window at 8 MB, so an installation's memory stays
// small; 20 to 22 take long-distance matching over 128 MB. xz 6 writes
// blocks of 24 MB, which a product's tree holds several of to decode on
// several threads.
constexpr LevelRange LEVELS[] = {
    {Compression::bzip2, "bzip2", 1, 9, 9},
    {Compression::zstd, "zstd", 1, 22, 19},
    {Compression::xz, "xz", 0, 9, 6},
};

constexpr int LONG_DISTANCE_LEVEL = 20;
// zstd --long's window, the largest the installer takes.
constexpr int LONG_WINDOW_LOG = 27;

// A payload up to this size is held back until its end, so that zstd learns
// its size: a level's tables and window (88 MB at 19) then shrink to what
// it needs, in packing and in installing.
constexpr size_t SMALL_PAYLOAD = 1024 * 1024;

class ZstdCompressor final : public PayloadCompressor {
public:
    ZstdCompressor(int level, int threads, ByteSink sink) : context_(ZSTD_createCCtx()), sink_(std::move(sink)) {
        if (context_ == nullptr) fail("zstd compressor", "cannot be set up");
        set(ZSTD_c_compressionLevel, level);
        set(ZSTD_c_checksumFlag, 1);
        // One worker or more: their output is the same whatever their number.
        set(ZSTD_c_nbWorkers, std::max(threads, 1));
        if (level >= LONG_DISTANCE_LEVEL) {
            set(ZSTD_c_enableLongDistanceMatching, 1);
            set(ZSTD_c_windowLog, LONG_WINDOW_LOG);
        }
        held_.reserve(SMALL_PAYLOAD);
    }
    ~ZstdCompressor() override { ZSTD_freeCCtx(context_); }
    ZstdCompressor(const ZstdCompressor&) = delete;
    ZstdCompressor& operator=(const ZstdCompressor&) = delete;

    void write(const unsigned char* data, size_t length) override {
        if (holding_ && held_.size() + length <= SMALL_PAYLOAD) {
            held_.insert(held_.end(), data, data + length);
            return;
        }
        release_held();
        compress(data, length);
    }
    void finish() override {
        if (holding_) {
            const size_t status = ZSTD_CCtx_setPledgedSrcSize(context_, held_.size());
            if (ZSTD_isError(status)) fail("zstd compressor", ZSTD_getErrorName(status));
            release_held();
        }
        ZSTD_inBuffer in{nullptr, 0, 0};
        while (step(in, ZSTD_e_end) != 0) {}
    }

private:
    void set(ZSTD_cParameter parameter, int value) {
        const size_t status = ZSTD_CCtx_setParameter(context_, parameter, value);
        if (ZSTD_isError(status)) fail("zstd compressor", ZSTD_getErrorName(status));
    }
    void release_held() {
        if (!holding_) return;
        holding_ = false;
        compress(held_.data(), held_.size());
        held_ = {};
    }
    void compress(const unsigned char* data, size_t length) {
        ZSTD_inBuffer in{data, length, 0};
        while (in.pos < in.size) step(in, ZSTD_e_continue);
    }
    size_t step(ZSTD_inBuffer& in, ZSTD_EndDirective directive) {
        ZSTD_outBuffer out{output_.data(), output_.size(), 0};
        const size_t status = ZSTD_compressStream2(context_, &out, &in, directive);
        if (ZSTD_isError(status)) fail("zstd compressor", ZSTD_getErrorName(status));
        if (out.pos > 0) sink_(output_.data(), out.pos);
        return status;
    }

    ZSTD_CCtx* context_;
    ByteSink sink_;
    bool holding_ = true;
    std::vector<unsigned char> held_;
    std::array<unsigned char, OUTPUT_PIECE> output_{};
};

class XzCompressor final : public PayloadCompressor {
public:
    XzCompressor(int level, int threads, ByteSink sink) : sink_(std::move(sink)) {
        // Always the block encoder, also on one thread: the blocks, and so
        // the output, do not depend on the thread count, and the installer
        // decodes them on several.
        lzma_mt options{};
        options.threads = static_cast<uint32_t>(std::max(threads, 1));
        options.preset = static_cast<uint32_t>(level);
        options.check = LZMA_CHECK_CRC64;
        const lzma_ret status = lzma_stream_encoder_mt(&stream_, &options);
        if (status != LZMA_OK) fail("xz compressor", "liblzma returned " + std::to_string(status));
    }
    ~XzCompressor() override { lzma_end(&stream_); }
    XzCompressor(const XzCompressor&) = delete;
    XzCompressor& operator=(const XzCompressor&) = delete;

    void write(const unsigned char* data, size_t length) override {
        stream_.next_in = data;
        stream_.avail_in = length;
        while (stream_.avail_in > 0) step(LZMA_RUN);
    }
    void finish() override {
        while (step(LZMA_FINISH) != LZMA_STREAM_END) {}
    }

private:
    lzma_ret step(lzma_action action) {
        stream_.next_out = output_.data();
        stream_.avail_out = output_.size();
        const lzma_ret status = lzma_code(&stream_, action);
        if (status != LZMA_OK && status != LZMA_STREAM_END) {
            fail("xz compressor", "liblzma returned " + std::to_string(status));
        }
        const size_t produced = output_.size() - stream_.avail_out;
        if (produced > 0) sink_(output_.data(), produced);
        return status;
    }

    lzma_stream stream_ = LZMA_STREAM_INIT;
    ByteSink sink_;
    std::array<unsigned char, OUTPUT_PIECE> output_{};
};

std::string compression_names() {
    std::string names;
    for (const LevelRange& range : LEVELS) names += (names.empty() ? "" : ", ") + std::string(range.name);
    return names;
}

int parse_level(const LevelRange& range, const std::string& text) {
    const bool digits_only =
        !text.empty() && text.size() <= 2 && text.find_first_not_of("0123456789") == std::string::npos;
    const int level = digits_only ? std::stoi(text) : -1;
    if (level < range.lowest || level > range.highest) {
        throw UsageError{std::string(range.name) + " level '" + text + "' is not a number from " +
                         std::to_string(range.lowest) + " to " + std::to_string(range.highest)};
    }
    return level;
}

}  // namespace

CompressionChoice parse_compression(const std::string& text) {
    const size_t colon = text.find(':');
    const std::string name = text.substr(0, colon);
    for (const LevelRange& range : LEVELS) {
        if (name != range.name) continue;
        const int level = colon == std::string::npos ? range.fallback : parse_level(range, text.substr(colon + 1));
        return {range.compression, level};
    }
    throw UsageError{"unknown compression '" + name + "' (" + compression_names() + ")"};
}

std::unique_ptr<PayloadCompressor> make_compressor(const CompressionChoice& choice, int threads, ByteSink sink) {
    switch (choice.compression) {
        case Compression::zstd: return std::make_unique<ZstdCompressor>(choice.level, threads, std::move(sink));
        case Compression::xz: return std::make_unique<XzCompressor>(choice.level, threads, std::move(sink));
        default: return std::make_unique<Compressor>(choice.level, threads, std::move(sink));
    }
}

}  // namespace zkpack
