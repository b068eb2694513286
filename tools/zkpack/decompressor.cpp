#include "decompressor.h"

#include <bzlib.h>

#include <array>

namespace zkpack {

namespace {

// Ends the decompressor whatever way the loop is left.
struct DecompressorGuard {
    bz_stream& stream;
    ~DecompressorGuard() { BZ2_bzDecompressEnd(&stream); }
};

}  // namespace

StreamResult decompress(const ByteSource& source, const ByteSink& sink) {
    StreamResult result;
    bz_stream stream{};
    result.error_code = BZ2_bzDecompressInit(&stream, 0, 0);
    if (result.error_code != BZ_OK) {
        result.status = StreamStatus::corrupt;
        return result;
    }
    DecompressorGuard guard{stream};
    std::array<unsigned char, 64 * 1024> in{};
    std::array<unsigned char, 64 * 1024> out{};
    uint64_t read_total = 0;
    for (;;) {
        if (stream.avail_in == 0) {
            const size_t n = source(in.data(), in.size());
            if (n == 0) {
                result.consumed = read_total;  // cut short: the stream has not ended
                return result;
            }
            read_total += n;
            stream.next_in = reinterpret_cast<char*>(in.data());
            stream.avail_in = static_cast<unsigned>(n);
        }
        stream.next_out = reinterpret_cast<char*>(out.data());
        stream.avail_out = static_cast<unsigned>(out.size());
        const int code = BZ2_bzDecompress(&stream);
        const size_t produced = out.size() - stream.avail_out;
        if (produced > 0) sink(out.data(), produced);
        result.produced += produced;
        if (code == BZ_STREAM_END) {
            result.status = StreamStatus::complete;
            result.consumed = read_total - stream.avail_in;
            return result;
        }
        if (code != BZ_OK) {
            result.status = StreamStatus::corrupt;
            result.error_code = code;
            return result;
        }
    }
}

std::string stream_problem(const StreamResult& result) {
    switch (result.status) {
        case StreamStatus::complete:
            return "";
        case StreamStatus::cut_short:
            return result.consumed == 0 ? "holds no bzip2 stream" : "its bzip2 stream is cut short";
        case StreamStatus::corrupt:
            if (result.error_code == BZ_DATA_ERROR_MAGIC) return "not a bzip2 stream";
            return "its bzip2 stream is corrupt (libbzip2 error " + std::to_string(result.error_code) + ")";
    }
    return "";
}

}  // namespace zkpack
