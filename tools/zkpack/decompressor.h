// Compressed payloads (bzip2, zstd or xz) read as the installer reads them, through the same
// decoder: every stream back to back to the payload's end.
#pragma once

#include "payload_decoder.h"
#include "io.h"

#include <cstdint>
#include <string>

namespace zkpack {

struct StreamResult {
    payload_codec::Result decoded;
    uint64_t produced = 0;  // decompressed bytes handed to the sink
    payload_codec::Compression compression = payload_codec::Compression::unknown;  // the first stream's
};

StreamResult decompress(const ByteSource& source, const ByteSink& sink);

// What is wrong with a payload of `payload_size` bytes that did not decode
// whole, as a reason to show; "" when it did.
std::string stream_problem(const StreamResult& result, uint64_t payload_size);

}  // namespace zkpack
