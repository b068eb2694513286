#include "compressor.h"

#include <algorithm>
#include <climits>
#include <string>
#include <utility>

namespace zkpack {

namespace {

// libbzip2 counts in unsigned int; bigger pieces go in several turns.
constexpr size_t MAX_PIECE = UINT_MAX;

[[noreturn]] void compressor_failure(const char* call, int code) {
    fail("bzip2 compressor", std::string(call) + " returned " + std::to_string(code));
}

}  // namespace

Compressor::Compressor(int block_size, ByteSink sink) : sink_(std::move(sink)) {
    // Work factor 0 takes libbzip2's default, so the output depends on the
    // input and the block size alone.
    const int code = BZ2_bzCompressInit(&stream_, block_size, 0, 0);
    if (code != BZ_OK) compressor_failure("BZ2_bzCompressInit", code);
    stream_.next_out = reinterpret_cast<char*>(out_.data());
    stream_.avail_out = static_cast<unsigned>(out_.size());
}

Compressor::~Compressor() { BZ2_bzCompressEnd(&stream_); }

void Compressor::drain() {
    const size_t produced = out_.size() - stream_.avail_out;
    if (produced > 0) sink_(out_.data(), produced);
    stream_.next_out = reinterpret_cast<char*>(out_.data());
    stream_.avail_out = static_cast<unsigned>(out_.size());
}

void Compressor::write(const unsigned char* data, size_t length) {
    while (length > 0) {
        const size_t piece = std::min(length, MAX_PIECE);
        stream_.next_in = const_cast<char*>(reinterpret_cast<const char*>(data));
        stream_.avail_in = static_cast<unsigned>(piece);
        while (stream_.avail_in > 0) {
            drain();
            const int code = BZ2_bzCompress(&stream_, BZ_RUN);
            if (code != BZ_RUN_OK) compressor_failure("BZ2_bzCompress", code);
        }
        data += piece;
        length -= piece;
    }
}

void Compressor::finish() {
    stream_.avail_in = 0;
    int code;
    do {
        drain();
        code = BZ2_bzCompress(&stream_, BZ_FINISH);
        if (code != BZ_FINISH_OK && code != BZ_STREAM_END) compressor_failure("BZ2_bzCompress", code);
    } while (code != BZ_STREAM_END);
    drain();
}

}  // namespace zkpack
