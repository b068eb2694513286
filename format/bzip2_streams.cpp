#include "bzip2_streams.h"

#include <bzlib.h>

#include <array>

namespace bzip2_streams {

namespace {

// Ends whichever decompressor is current however decoding is left: a
// packer's write callback may throw.
class Decompressor {
public:
    Decompressor() = default;
    ~Decompressor() { end(); }
    Decompressor(const Decompressor&) = delete;
    Decompressor& operator=(const Decompressor&) = delete;

    bz_stream& stream() { return stream_; }

    // A fresh decompressor that goes on with the input the last one left.
    int start() {
        char* const next_in = stream_.next_in;
        const unsigned avail_in = stream_.avail_in;
        end();
        stream_ = bz_stream{};
        const int status = BZ2_bzDecompressInit(&stream_, 0, 0);
        started_ = status == BZ_OK;
        stream_.next_in = next_in;
        stream_.avail_in = avail_in;
        return status;
    }

private:
    void end() {
        if (started_) BZ2_bzDecompressEnd(&stream_);
        started_ = false;
    }

    bz_stream stream_{};
    bool started_ = false;
};

}  // namespace

Result decode(void* context, Read read, Write write) {
    Result result;
    Decompressor decompressor;
    bz_stream& stream = decompressor.stream();
    std::array<unsigned char, INPUT_SIZE> input;
    std::array<unsigned char, OUTPUT_SIZE> output;
    uint64_t read_total = 0;
    bool stream_ended = true;  // the last stream is whole; input may hold another
    for (;;) {
        if (stream.avail_in == 0) {
            const int32_t count = read(context, input.data(), static_cast<int32_t>(input.size()));
            if (count < 0) {
                result.outcome = Outcome::unreadable;
            } else if (count == 0 && (!stream_ended || result.streams == 0)) {
                result.outcome = Outcome::cut_short;
            }
            if (count <= 0) break;
            read_total += static_cast<uint64_t>(count);
            stream.next_in = reinterpret_cast<char*>(input.data());
            stream.avail_in = static_cast<unsigned>(count);
        }
        if (stream_ended) {
            result.error_code = decompressor.start();
            if (result.error_code != BZ_OK) {
                result.outcome = Outcome::cannot_start;
                break;
            }
            stream_ended = false;
        }
        stream.next_out = reinterpret_cast<char*>(output.data());
        stream.avail_out = static_cast<unsigned>(output.size());
        const int status = BZ2_bzDecompress(&stream);
        if (status != BZ_OK && status != BZ_STREAM_END) {
            result.outcome = status == BZ_DATA_ERROR_MAGIC ? Outcome::not_a_stream : Outcome::corrupt;
            result.error_code = status;
            break;
        }
        const auto produced = static_cast<int32_t>(output.size() - stream.avail_out);
        if (write(context, output.data(), produced) != 0) {
            result.outcome = Outcome::refused;
            break;
        }
        if (status == BZ_STREAM_END) {
            stream_ended = true;
            ++result.streams;
            result.consumed = read_total - stream.avail_in;
        }
    }
    return result;
}

}  // namespace bzip2_streams
