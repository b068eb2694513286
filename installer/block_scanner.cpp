#include "block_scanner.h"

#include <algorithm>

#include "pump.h"

using namespace bzip2_blocks;

namespace {

constexpr int32_t READ_SIZE = 64 * 1024;
// A block holds at most 900 000 bytes before coding and codes to less than
// twice that: a longer stretch without a magic is no stream we can cut.
constexpr uint64_t MAX_BLOCK_BITS = uint64_t{2} * 1024 * 1024 * 8;
constexpr uint64_t END_FIELDS_BITS = MAGIC_BITS + CRC_BITS;
// A block's magic and CRC are read as fields, never searched.
constexpr uint64_t BLOCK_FIELDS_BITS = MAGIC_BITS + CRC_BITS;

}  // namespace

bool BlockScanner::read_more() {
    if (input_ended_) return false;
    const size_t old_size = bytes_.size();
    bytes_.resize(old_size + READ_SIZE);
    const int32_t count = payload_.read(bytes_.data() + old_size, READ_SIZE);
    bytes_.resize(old_size + static_cast<size_t>(std::max(count, 0)));
    input_ended_ = count <= 0;
    read_failed_ = count < 0;
    return !input_ended_;
}

bool BlockScanner::have_bits(uint64_t end) {
    while (bit_count() < end) {
        if (!read_more()) return false;
    }
    return true;
}

bool BlockScanner::start() { return start_stream(); }

// A stream that starts at bytes_'s first byte with a header and a block.
bool BlockScanner::start_stream() {
    if (!have_bits(HEADER_BITS + MAGIC_BITS)) return false;
    level_ = stream_level(bytes_.data(), bytes_.size());
    if (level_ == 0 || read_bits(bytes_.data(), HEADER_BITS, MAGIC_BITS) != BLOCK_MAGIC) return false;
    block_start_ = HEADER_BITS;
    search_from_ = HEADER_BITS + BLOCK_FIELDS_BITS;
    combined_crc_ = 0;
    ended_ = false;
    return true;
}

// The scanner's find, with the planted magic taken for a real one.
MagicHit BlockScanner::next_magic() {
    MagicHit hit = find_magic(bytes_.data(), search_from_, bit_count());
    if (planted_magic_bit_ >= dropped_bits_) {
        const uint64_t planted = planted_magic_bit_ - dropped_bits_;
        const uint64_t limit = hit.kind == MagicKind::none ? bit_count() : hit.bit;
        if (planted >= search_from_ && planted < limit) hit = {MagicKind::block, planted};
    }
    return hit;
}

void BlockScanner::drop_before(uint64_t bit) {
    const uint64_t whole_bytes = bit / 8;
    bytes_.erase(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(whole_bytes));
    dropped_bits_ += whole_bytes * 8;
    block_start_ -= std::min(block_start_, whole_bytes * 8);
    search_from_ -= std::min(search_from_, whole_bytes * 8);
    end_magic_ -= std::min(end_magic_, whole_bytes * 8);
}

// bzunzip ends a stream without a failure only where the combined CRC
// matches. Another stream may follow at the next byte, as block-parallel
// compressors write them; anything else there is left for bzunzip to judge.
ScanStep BlockScanner::judge_end() {
    if (!have_bits(end_magic_ + END_FIELDS_BITS)) return ScanStep::doubt;
    const auto stored_crc = static_cast<uint32_t>(read_bits(bytes_.data(), end_magic_ + MAGIC_BITS, CRC_BITS));
    if (stored_crc != combined_crc_) return ScanStep::doubt;
    const uint64_t stream_bytes = (end_magic_ + END_FIELDS_BITS + 7) / 8;
    if (bytes_.size() == stream_bytes && !read_more()) return read_failed_ ? ScanStep::doubt : ScanStep::sound_end;
    drop_before(stream_bytes * 8);
    return start_stream() ? ScanStep::stream_end : ScanStep::doubt;
}

ScanStep BlockScanner::next(std::vector<unsigned char>& block) {
    if (ended_) return judge_end();
    for (;;) {
        const MagicHit hit = next_magic();
        if (hit.kind == MagicKind::none) {
            if (bit_count() - block_start_ > MAX_BLOCK_BITS) return ScanStep::doubt;
            // A magic may start in the last 47 bits: search them again.
            search_from_ = std::max(search_from_, bit_count() >= MAGIC_BITS ? bit_count() - MAGIC_BITS + 1 : 0);
            if (!read_more()) return ScanStep::doubt;
            continue;
        }
        block = one_block_stream(level_, bytes_.data(), block_start_, hit.bit);
        combined_crc_ = combine_crc(combined_crc_, block_crc(bytes_.data(), block_start_));
        if (hit.kind == MagicKind::end) {
            ended_ = true;
            end_magic_ = hit.bit;
        }
        block_start_ = hit.bit;
        search_from_ = hit.bit + BLOCK_FIELDS_BITS;
        drop_before(block_start_);
        return ScanStep::block;
    }
}
