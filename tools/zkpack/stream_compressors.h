// The compressions a payload can be written with, and the one way
// compressed_payloads.cpp makes a compressor for the chosen one. Every
// compressor's output depends on its input, compression and level alone,
// not on the number of threads.
#pragma once

#include "io.h"

#include <payload_decoder.h>

#include <cstddef>
#include <memory>
#include <string>

namespace zkpack {

class PayloadCompressor {
public:
    virtual ~PayloadCompressor() = default;
    virtual void write(const unsigned char* data, size_t length) = 0;
    // Ends the stream; nothing may be written after it.
    virtual void finish() = 0;
};

struct CompressionChoice {
    payload_codec::Compression compression = payload_codec::Compression::bzip2;
    int level = 9;  // bzip2's block size in units of 100 kB, zstd's or xz's preset
};

// "bzip2", "zstd" or "xz", with ":LEVEL" or without for the default level;
// a bzip2 level is its block size, as -1 ... -9. Throws UsageError.
CompressionChoice parse_compression(const std::string& text);

std::unique_ptr<PayloadCompressor> make_compressor(const CompressionChoice& choice, int threads, ByteSink sink);

}  // namespace zkpack
