// bzip2 compression as one stream, fed in pieces of any size, handing the
// compressed bytes to a sink as they come.
#pragma once

#include "io.h"

#include <bzlib.h>

#include <array>
#include <cstddef>

namespace zkpack {

class Compressor {
public:
    // block_size: 1 to 9, in units of 100 kB, as bzip2 -1 ... -9.
    Compressor(int block_size, ByteSink sink);
    ~Compressor();
    Compressor(const Compressor&) = delete;
    Compressor& operator=(const Compressor&) = delete;

    void write(const unsigned char* data, size_t length);
    // Ends the stream; nothing may be written after it.
    void finish();

private:
    void drain();

    ByteSink sink_;
    bz_stream stream_{};
    std::array<unsigned char, 64 * 1024> out_{};
};

}  // namespace zkpack
