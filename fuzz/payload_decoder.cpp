// decode_payload through the decoder chosen by magic, on any payload.
// Input: a byte whose low bits pick the read size (1 to 8 bytes, or whole
// pieces), then the payload.
//
// The outcome, the streams counted and the bytes delivered must not depend
// on how the input arrives; a bzip2, zstd or xz stream that says it needs
// more than the limit is refused, never allocated for.
#include "fuzz_support.h"

#include "decoder.h"
#include "payload_decoder.h"

#include <algorithm>
#include <cstring>
#include <string>

using zkfuzz::require;

namespace {

// Output beyond this is refused: the property is about decoding, and a
// small input may expand a long way.
constexpr size_t MAX_OUTPUT = 4 << 20;

struct Decoded {
    payload_codec::Result result;
    std::string output;
};

Decoded decode(const std::string& payload, size_t piece) {
    payload_codec::PayloadDecoder decoder;
    Decoded decoded;
    size_t offset = 0;
    decoded.result = payload_codec::decode_payload(
        decoder,
        [&](unsigned char* destination, int32_t capacity) {
            const size_t count = std::min({payload.size() - offset, piece, static_cast<size_t>(capacity)});
            std::memcpy(destination, payload.data() + offset, count);
            offset += count;
            return static_cast<int32_t>(count);
        },
        [&](const unsigned char* bytes, size_t count) {
            if (decoded.output.size() + count > MAX_OUTPUT) return false;
            decoded.output.append(reinterpret_cast<const char*>(bytes), count);
            return true;
        });
    return decoded;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    zkfuzz::FuzzInput input(data, size);
    const unsigned mode = input.take_byte() & 7;
    const std::string payload = input.take_rest();
    const Decoded whole = decode(payload, payload_codec::INPUT_SIZE);
    if (whole.result.outcome == payload_codec::Outcome::refused) return 0;
    const Decoded pieces = decode(payload, mode + 1);
    if (pieces.result.outcome == payload_codec::Outcome::refused) return 0;
    require(pieces.result.outcome == whole.result.outcome, "the outcome does not depend on the read sizes");
    require(pieces.result.streams == whole.result.streams, "nor do the streams counted");
    // A corrupt stream's last call delivers nothing, and where it is found
    // depends on what the decoder had: only sound payloads compare bytes.
    if (whole.result.outcome == payload_codec::Outcome::whole) {
        require(pieces.output == whole.output, "a sound payload decodes to the same bytes");
        require(pieces.result.consumed == payload.size(), "and is read to its end");
    }
    return 0;
}
