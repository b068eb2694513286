#include "decompressor.h"

namespace zkpack {

namespace {

struct Ends {
    const ByteSource& source;
    const ByteSink& sink;
    uint64_t produced;
};

int32_t read_source(void* context, unsigned char* destination, int32_t capacity) {
    return static_cast<int32_t>(static_cast<Ends*>(context)->source(destination, static_cast<size_t>(capacity)));
}

// The sink fails by throwing; the decoder ends its decompressor on the way.
int32_t write_sink(void* context, const unsigned char* source, int32_t count) {
    auto* const ends = static_cast<Ends*>(context);
    if (count > 0) ends->sink(source, static_cast<size_t>(count));
    ends->produced += static_cast<uint64_t>(count);
    return 0;
}

}  // namespace

StreamResult decompress(const ByteSource& source, const ByteSink& sink) {
    Ends ends{source, sink, 0};
    const bzip2_streams::Result decoded = bzip2_streams::decode(&ends, read_source, write_sink);
    return {decoded, ends.produced};
}

std::string stream_problem(const StreamResult& result, uint64_t payload_size) {
    using bzip2_streams::Outcome;
    const bzip2_streams::Result& decoded = result.decoded;
    const std::string code = std::to_string(decoded.error_code);
    switch (decoded.outcome) {
        case Outcome::whole: return "";
        case Outcome::cut_short: return payload_size == 0 ? "holds no bzip2 stream" : "its bzip2 stream is cut short";
        case Outcome::not_a_stream:
            if (decoded.streams == 0) return "not a bzip2 stream";
            return std::to_string(payload_size - decoded.consumed) +
                   " bytes follow its bzip2 stream; the installer would fail on them";
        case Outcome::corrupt: return "its bzip2 stream is corrupt (libbzip2 error " + code + ")";
        case Outcome::unreadable: return "cannot be read whole";
        case Outcome::cannot_start: return "cannot start a bzip2 decompressor (libbzip2 error " + code + ")";
        case Outcome::refused: return "its output could not be written";
    }
    return "";
}

}  // namespace zkpack
