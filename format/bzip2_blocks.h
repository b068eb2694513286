// A bzip2 stream is a 4-byte header ("BZh" and the level digit), blocks that
// each start with a 48-bit magic at any bit position and carry their own CRC,
// then a 48-bit end magic, the combined CRC and padding to a whole byte.
// Blocks decode independently, so a stream can be cut into one-block streams
// and one-block streams can be joined into one stream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace bzip2_blocks {

constexpr uint64_t BLOCK_MAGIC = 0x314159265359;
constexpr uint64_t END_MAGIC = 0x177245385090;
constexpr int MAGIC_BITS = 48;
constexpr int CRC_BITS = 32;
constexpr uint64_t HEADER_BITS = 32;
// The longest stream's header, one block magic and its CRC, in bytes.
constexpr size_t MIN_BLOCK_STREAM_SIZE = 4 + (MAGIC_BITS + CRC_BITS) / 8;

// The level digit's value (1 to 9) of a stream header, 0 when the bytes are
// not one.
int stream_level(const unsigned char* data, size_t size);

// Up to 57 bits from bit position `bit` (bits counted from each byte's high
// end), as an unsigned number; the caller keeps them inside the data.
uint64_t read_bits(const unsigned char* data, uint64_t bit, int count);

enum class MagicKind { none, block, end };

struct MagicHit {
    MagicKind kind;
    uint64_t bit;  // where the magic starts; meaningless for none
};

// The first block or end magic that starts at bit `from` or later and lies
// wholly within the first `bit_count` bits.
MagicHit find_magic(const unsigned char* data, uint64_t from, uint64_t bit_count);

// The combined CRC after one more block.
constexpr uint32_t combine_crc(uint32_t combined, uint32_t block_crc) {
    return ((combined << 1) | (combined >> 31)) ^ block_crc;
}

// The CRC stored after the block magic at `block_bit`.
uint32_t block_crc(const unsigned char* data, uint64_t block_bit);

// Bits appended at any position; whole bytes can be taken out as they
// complete.
class BitWriter {
public:
    void put_bits(uint64_t value, int count);  // count at most 32
    void append_bits(const unsigned char* data, uint64_t from, uint64_t to);
    void pad_to_byte();
    // Replaces `whole` with the whole bytes written so far; the partial
    // last byte stays.
    void take_whole_bytes(std::vector<unsigned char>& whole);
    std::vector<unsigned char>& bytes() { return bytes_; }

private:
    std::vector<unsigned char> bytes_;
    int free_bits_ = 0;  // unused low bits of the last byte
};

// The block whose bits are [from, to) of `data` as a one-block stream of the
// given level: header, the bits, end magic, the block's CRC as the combined
// CRC, padding.
std::vector<unsigned char> one_block_stream(int level, const unsigned char* data, uint64_t from, uint64_t to);

// Where the single block of a one-block stream lies, found from its end: the
// end magic followed by a combined CRC equal to the block's CRC.
struct BlockBits {
    uint64_t from;
    uint64_t to;
    uint32_t crc;
};
bool find_single_block(const unsigned char* stream, size_t size, BlockBits& block);

// Joins one-block streams into one stream of the given level, handing out
// the joined bytes as they complete.
class StreamJoiner {
public:
    explicit StreamJoiner(int level);
    // False when the bytes are not a one-block stream.
    bool add_block_stream(const unsigned char* stream, size_t size);
    // Replaces `output` with the bytes completed since the last call.
    void take_output(std::vector<unsigned char>& output) { writer_.take_whole_bytes(output); }
    // Ends the stream; take_output then gives its last bytes.
    void finish();

private:
    BitWriter writer_;
    uint32_t combined_crc_ = 0;
};

}  // namespace bzip2_blocks
