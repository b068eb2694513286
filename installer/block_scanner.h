// Cuts the bzip2 stream in the payload window into one-block streams,
// reading the payload as it goes: the parallel pump's input side.
#pragma once

#include <bzip2_blocks.h>
#include <record_walk.h>

#include <cstdint>
#include <vector>

enum class ScanStep {
    block,       // the next block, as a one-block stream
    stream_end,  // a stream ended, its combined CRC matches, and another starts at next_stream_offset
    sound_end,   // as stream_end, and no payload byte follows
    doubt        // anything else: not a stream we cut, truncated, or bytes after it that are none
};

class BlockScanner {
public:
    // `planted_magic_bit`: a payload bit taken for a block magic, as
    // compressed data can hold one by chance (a test's); UINT64_MAX for none.
    BlockScanner(package_format::PayloadReader& payload, uint64_t planted_magic_bit)
        : payload_(payload), planted_magic_bit_(planted_magic_bit) {}
    // False when the payload does not start with a stream header and a block.
    bool start();
    ScanStep next(std::vector<unsigned char>& block);
    // The payload offset of the stream that follows a stream_end.
    uint64_t next_stream_offset() const { return dropped_bits_ / 8; }

private:
    bool read_more();
    uint64_t bit_count() const { return uint64_t{bytes_.size()} * 8; }
    bool have_bits(uint64_t end);
    bool start_stream();
    bzip2_blocks::MagicHit next_magic();
    void drop_before(uint64_t bit);
    ScanStep judge_end();

    package_format::PayloadReader& payload_;
    const uint64_t planted_magic_bit_;
    std::vector<unsigned char> bytes_;  // payload bytes not yet dropped
    uint64_t dropped_bits_ = 0;         // payload bits before bytes_
    uint64_t block_start_ = 0;          // positions below count in bytes_
    uint64_t search_from_ = 0;
    uint64_t end_magic_ = 0;
    bool ended_ = false;  // the last block was handed out; the end is next
    bool input_ended_ = false;
    bool read_failed_ = false;  // the file ended before the payload, or could not be read
    int level_ = 0;
    uint32_t combined_crc_ = 0;
};
