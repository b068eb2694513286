#include "decompressor.h"

#include "bzip2_decoder.h"

namespace zkpack {

StreamResult decompress(const ByteSource& source, const ByteSink& sink) {
    uint64_t produced = 0;
    payload_codec::Bzip2Decoder decoder;
    // The sink fails by throwing; the decoder ends its decompressor on the way.
    const payload_codec::Result decoded = payload_codec::decode_payload(
        decoder,
        [&](unsigned char* destination, int32_t capacity) {
            return static_cast<int32_t>(source(destination, static_cast<size_t>(capacity)));
        },
        [&](const unsigned char* bytes, size_t count) {
            if (count > 0) sink(bytes, count);
            produced += count;
            return true;
        });
    return {decoded, produced};
}

std::string stream_problem(const StreamResult& result, uint64_t payload_size) {
    using payload_codec::Outcome;
    const payload_codec::Result& decoded = result.decoded;
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
