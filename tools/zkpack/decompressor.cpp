#include "decompressor.h"

#include "processors.h"

namespace zkpack {

StreamResult decompress(const ByteSource& source, const ByteSink& sink) {
    uint64_t produced = 0;
    // As many threads as the installer would take for an xz payload.
    constexpr int MAX_THREADS = 8;
    payload_codec::PayloadDecoder decoder(bzip2_blocks::usable_processors(MAX_THREADS));
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
    return {decoded, produced, decoder.compression()};
}

std::string stream_problem(const StreamResult& result, uint64_t payload_size) {
    using payload_codec::Outcome;
    const payload_codec::Result& decoded = result.decoded;
    const std::string code = std::to_string(decoded.error_code);
    const bool known = result.compression != payload_codec::Compression::unknown;
    const std::string name = payload_codec::compression_name(result.compression);
    switch (decoded.outcome) {
        case Outcome::whole: return "";
        case Outcome::cut_short:
            return payload_size == 0 ? "holds no compressed stream" : "its " + name + " stream is cut short";
        case Outcome::not_a_stream:
            if (decoded.streams == 0) return known ? "not a " + name + " stream" : "not a bzip2, zstd or xz stream";
            return std::to_string(payload_size - decoded.consumed) + " bytes follow its " + name +
                   " stream; the installer would fail on them";
        case Outcome::corrupt: return "its " + name + " stream is corrupt (library error " + code + ")";
        case Outcome::over_limit:
            return "its " + name + " stream needs more than " + std::to_string(payload_codec::MEMORY_LIMIT_MB) +
                   " MB of memory to decode; the installer would refuse it";
        case Outcome::unreadable: return "cannot be read whole";
        case Outcome::cannot_start: return "cannot start a " + name + " decompressor (library error " + code + ")";
        case Outcome::refused: return "its output could not be written";
    }
    return "";
}

}  // namespace zkpack
