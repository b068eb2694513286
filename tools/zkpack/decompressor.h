// bzip2 decompression of one stream, as the installer does it: it stops at
// the end of the first stream and leaves whatever follows unread.
#pragma once

#include "io.h"

#include <cstdint>
#include <string>

namespace zkpack {

enum class StreamStatus { complete, cut_short, corrupt };

struct StreamResult {
    StreamStatus status = StreamStatus::cut_short;
    int error_code = 0;     // libbzip2's, when corrupt
    uint64_t consumed = 0;  // compressed bytes up to the end of the stream, or all read
    uint64_t produced = 0;  // decompressed bytes handed to the sink
};

StreamResult decompress(const ByteSource& source, const ByteSink& sink);

// What is wrong with a stream that is not complete, as a reason to show.
std::string stream_problem(const StreamResult& result);

}  // namespace zkpack
