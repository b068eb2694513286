#include "bzip2_blocks.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace bzip2_blocks {

namespace {

constexpr uint64_t MAGIC_MASK = (uint64_t{1} << MAGIC_BITS) - 1;
constexpr int WINDOW_BITS = 64;
constexpr int END_FIELDS_BITS = MAGIC_BITS + CRC_BITS;

// Whatever its bit offset within its first byte, a magic fills that byte's
// next two bytes with one of eight values each: a set of 16-bit values
// that rules out almost every byte as a magic's start before any bit is
// compared.
class PairSet {
public:
    constexpr PairSet() {
        for (const uint64_t magic : {BLOCK_MAGIC, END_MAGIC}) {
            for (int shift = 0; shift < 8; ++shift) {
                const uint64_t window = magic << (WINDOW_BITS - MAGIC_BITS - shift);
                add(static_cast<unsigned>((window >> 40) & 0xffff));
            }
        }
    }
    constexpr bool has(unsigned pair) const { return (words_[pair / 64] >> (pair % 64) & 1) != 0; }

private:
    constexpr void add(unsigned pair) { words_[pair / 64] |= uint64_t{1} << (pair % 64); }

    std::array<uint64_t, 65536 / 64> words_{};
};

constexpr PairSet MAGIC_PAIRS;

void put_header(BitWriter& writer, int level) {
    for (const char c : {'B', 'Z', 'h'}) writer.put_bits(static_cast<unsigned char>(c), 8);
    writer.put_bits(static_cast<uint64_t>('0' + level), 8);
}

void put_magic(BitWriter& writer, uint64_t magic) {
    writer.put_bits(magic >> 32, MAGIC_BITS - 32);
    writer.put_bits(magic & 0xffffffff, 32);
}

void put_end(BitWriter& writer, uint32_t combined_crc) {
    put_magic(writer, END_MAGIC);
    writer.put_bits(combined_crc, CRC_BITS);
    writer.pad_to_byte();
}

}  // namespace

int stream_level(const unsigned char* data, size_t size) {
    if (size < 4 || data[0] != 'B' || data[1] != 'Z' || data[2] != 'h') return 0;
    return data[3] >= '1' && data[3] <= '9' ? data[3] - '0' : 0;
}

uint64_t read_bits(const unsigned char* data, uint64_t bit, int count) {
    const unsigned char* first = data + bit / 8;
    const int skip = static_cast<int>(bit % 8);
    const int byte_count = (skip + count + 7) / 8;
    uint64_t value = 0;
    for (int i = 0; i < byte_count; ++i) value = value << 8 | first[i];
    value >>= byte_count * 8 - skip - count;
    return value & ((uint64_t{1} << count) - 1);
}

// Each byte whose next two bytes may belong to a magic is checked at its
// eight bit positions through a 64-bit window.
MagicHit find_magic(const unsigned char* data, uint64_t from, uint64_t bit_count) {
    if (bit_count < MAGIC_BITS || from > bit_count - MAGIC_BITS) return {MagicKind::none, 0};
    const uint64_t last_start = bit_count - MAGIC_BITS;
    const uint64_t byte_count = (bit_count + 7) / 8;
    // A magic starting in byte b ends past byte b + 5, so b + 2 lies in the data.
    for (uint64_t byte = from / 8; byte * 8 <= last_start; ++byte) {
        if (!MAGIC_PAIRS.has(static_cast<unsigned>(data[byte + 1]) << 8 | data[byte + 2])) continue;
        uint64_t window = 0;
        for (uint64_t i = 0; i < 8; ++i) window = window << 8 | (byte + i < byte_count ? data[byte + i] : 0);
        for (int shift = 0; shift < 8; ++shift) {
            const uint64_t start = byte * 8 + static_cast<uint64_t>(shift);
            if (start > last_start) break;
            if (start < from) continue;
            const uint64_t candidate = (window >> (WINDOW_BITS - MAGIC_BITS - shift)) & MAGIC_MASK;
            if (candidate == BLOCK_MAGIC) return {MagicKind::block, start};
            if (candidate == END_MAGIC) return {MagicKind::end, start};
        }
    }
    return {MagicKind::none, 0};
}

uint32_t block_crc(const unsigned char* data, uint64_t block_bit) {
    return static_cast<uint32_t>(read_bits(data, block_bit + MAGIC_BITS, CRC_BITS));
}

void BitWriter::put_bits(uint64_t value, int count) {
    while (count > 0) {
        if (free_bits_ == 0) {
            bytes_.push_back(0);
            free_bits_ = 8;
        }
        const int n = std::min(count, free_bits_);
        const auto piece = static_cast<unsigned>((value >> (count - n)) & ((1u << n) - 1));
        bytes_.back() = static_cast<unsigned char>(bytes_.back() | piece << (free_bits_ - n));
        free_bits_ -= n;
        count -= n;
    }
}

// The bits before the source's next byte boundary go first, then whole
// source bytes, each split across two output bytes when the output is not
// at a byte boundary, then the last few bits.
void BitWriter::append_bits(const unsigned char* data, uint64_t from, uint64_t to) {
    const auto head = static_cast<int>(std::min<uint64_t>((8 - from % 8) % 8, to - from));
    if (head > 0) put_bits(read_bits(data, from, head), head);
    from += static_cast<uint64_t>(head);
    const auto whole = static_cast<size_t>((to - from) / 8);
    const unsigned char* source = data + from / 8;
    if (free_bits_ == 0) {
        bytes_.insert(bytes_.end(), source, source + whole);
    } else if (whole > 0) {
        const int used = 8 - free_bits_;
        const size_t last = bytes_.size() - 1;
        bytes_.resize(bytes_.size() + whole);
        unsigned char* out = bytes_.data() + last;
        for (size_t i = 0; i < whole; ++i) {
            out[i] = static_cast<unsigned char>(out[i] | source[i] >> used);
            out[i + 1] = static_cast<unsigned char>(source[i] << free_bits_);
        }
    }
    from += uint64_t{whole} * 8;
    const auto tail = static_cast<int>(to - from);
    if (tail > 0) put_bits(read_bits(data, from, tail), tail);
}

void BitWriter::pad_to_byte() { free_bits_ = 0; }

void BitWriter::take_whole_bytes(std::vector<unsigned char>& whole) {
    const size_t complete = bytes_.size() - (free_bits_ == 0 ? 0 : 1);
    whole.assign(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(complete));
    bytes_.erase(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(complete));
}

std::vector<unsigned char> one_block_stream(int level, const unsigned char* data, uint64_t from, uint64_t to) {
    BitWriter writer;
    // The block's bits are in memory, so their bytes count in a size_t.
    writer.bytes().reserve(static_cast<size_t>((to - from) / 8) + MIN_BLOCK_STREAM_SIZE + 16);
    put_header(writer, level);
    writer.append_bits(data, from, to);
    put_end(writer, block_crc(data, from));
    return std::move(writer.bytes());
}

bool find_single_block(const unsigned char* stream, size_t size, BlockBits& block) {
    if (stream_level(stream, size) == 0 || size < MIN_BLOCK_STREAM_SIZE + END_FIELDS_BITS / 8) return false;
    if (read_bits(stream, HEADER_BITS, MAGIC_BITS) != BLOCK_MAGIC) return false;
    const uint32_t crc = block_crc(stream, HEADER_BITS);
    const uint64_t bit_count = uint64_t{size} * 8;
    for (uint64_t padding = 0; padding < 8; ++padding) {
        const uint64_t end = bit_count - padding - END_FIELDS_BITS;
        if (end < HEADER_BITS + MAGIC_BITS + CRC_BITS) break;
        if (read_bits(stream, end, MAGIC_BITS) == END_MAGIC && read_bits(stream, end + MAGIC_BITS, CRC_BITS) == crc) {
            block = {HEADER_BITS, end, crc};
            return true;
        }
    }
    return false;
}

StreamJoiner::StreamJoiner(int level) { put_header(writer_, level); }

bool StreamJoiner::add_block_stream(const unsigned char* stream, size_t size) {
    BlockBits block{};
    if (!find_single_block(stream, size, block)) return false;
    writer_.append_bits(stream, block.from, block.to);
    combined_crc_ = combine_crc(combined_crc_, block.crc);
    return true;
}

void StreamJoiner::finish() { put_end(writer_, combined_crc_); }

}  // namespace bzip2_blocks
