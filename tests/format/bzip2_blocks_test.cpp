// Cutting bzip2 streams into one-block streams and joining chunks'
// one-block streams, checked against libbzip2's own decoding.
#include <bzip2_blocks.h>
#include <compressor.h>

#include <bzlib.h>
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;
using namespace bzip2_blocks;
using zkpack::chunk_size;

// Words drawn at random compress like text, so blocks fill up as with a
// real product.
Bytes text_like(size_t size, unsigned seed) {
    static const char* const WORDS[] = {"install ", "zelkor ", "bin/", "lib", ".so ",  "\n", "0644 ",
                                        "etc ",     "readme ", "the ", "of ", "data ", "\t", "x86_64 "};
    std::mt19937 random(seed);
    Bytes bytes;
    bytes.reserve(size + 16);
    while (bytes.size() < size) {
        const std::string word = WORDS[random() % std::size(WORDS)];
        bytes.insert(bytes.end(), word.begin(), word.end());
        if (random() % 7 == 0) bytes.push_back(static_cast<unsigned char>(random()));
    }
    bytes.resize(size);
    return bytes;
}

// Runs of exactly four: libbzip2's first run-length coding grows these by a
// quarter, the most it can.
Bytes runs_of_four(size_t size) {
    Bytes bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<unsigned char>('a' + (i / 4) % 2);
    return bytes;
}

Bytes compress(const Bytes& input, int level) {
    Bytes output(input.size() + input.size() / 100 + 600);
    auto length = static_cast<unsigned>(output.size());
    char none = 0;  // libbzip2 refuses a null source, even of no bytes
    char* source = input.empty() ? &none : const_cast<char*>(reinterpret_cast<const char*>(input.data()));
    const int code = BZ2_bzBuffToBuffCompress(reinterpret_cast<char*>(output.data()), &length, source,
                                              static_cast<unsigned>(input.size()), level, 0, 0);
    EXPECT_EQ(code, BZ_OK);
    output.resize(length);
    return output;
}

// libbzip2's whole-stream decoding; false when it refuses the stream.
bool decompress(const Bytes& stream, Bytes& output) {
    bz_stream bz{};
    if (BZ2_bzDecompressInit(&bz, 0, 0) != BZ_OK) return false;
    bz.next_in = const_cast<char*>(reinterpret_cast<const char*>(stream.data()));
    bz.avail_in = static_cast<unsigned>(stream.size());
    output.clear();
    int code = BZ_OK;
    while (code == BZ_OK) {
        unsigned char piece[65536];
        bz.next_out = reinterpret_cast<char*>(piece);
        bz.avail_out = sizeof(piece);
        code = BZ2_bzDecompress(&bz);
        output.insert(output.end(), piece, piece + (sizeof(piece) - bz.avail_out));
        if (code == BZ_OK && bz.avail_in == 0 && bz.avail_out != 0) break;
    }
    BZ2_bzDecompressEnd(&bz);
    return code == BZ_STREAM_END && bz.avail_in == 0;
}

struct SplitStream {
    std::vector<Bytes> blocks;  // one-block streams
    uint32_t combined_crc = 0;  // folded from the blocks' CRCs
    uint32_t stored_crc = 1;    // the stream's own
};

// Cuts a sound stream at every magic, as the installer does.
SplitStream split(const Bytes& stream) {
    SplitStream result;
    const int level = stream_level(stream.data(), stream.size());
    EXPECT_NE(level, 0);
    const uint64_t bit_count = stream.size() * 8;
    MagicHit hit = find_magic(stream.data(), HEADER_BITS, bit_count);
    EXPECT_EQ(hit.bit, HEADER_BITS);
    while (hit.kind == MagicKind::block) {
        const MagicHit next = find_magic(stream.data(), hit.bit + 1, bit_count);
        if (next.kind == MagicKind::none) {
            ADD_FAILURE() << "no end magic";
            break;
        }
        result.blocks.push_back(one_block_stream(level, stream.data(), hit.bit, next.bit));
        result.combined_crc = combine_crc(result.combined_crc, block_crc(stream.data(), hit.bit));
        hit = next;
    }
    if (hit.kind == MagicKind::end) {
        result.stored_crc = static_cast<uint32_t>(read_bits(stream.data(), hit.bit + MAGIC_BITS, CRC_BITS));
    }
    return result;
}

// Each block decoded alone, the outputs in order.
Bytes decode_blocks(const SplitStream& stream) {
    Bytes whole;
    for (size_t i = 0; i < stream.blocks.size(); ++i) {
        Bytes part;
        EXPECT_TRUE(decompress(stream.blocks[i], part)) << "block " << i;
        whole.insert(whole.end(), part.begin(), part.end());
    }
    return whole;
}

Bytes pack(const Bytes& input, int level, int threads, size_t piece) {
    Bytes output;
    zkpack::Compressor compressor(level, threads, [&](const unsigned char* data, size_t length) {
        output.insert(output.end(), data, data + length);
    });
    for (size_t at = 0; at < input.size(); at += piece) {
        compressor.write(input.data() + at, std::min(piece, input.size() - at));
    }
    compressor.finish();
    return output;
}

TEST(Bzip2Blocks, MagicsAreFoundAtEveryBitPositionAndOnlyWhole) {
    for (uint64_t at = 0; at < 24; ++at) {
        SCOPED_TRACE(at);
        for (const uint64_t magic : {BLOCK_MAGIC, END_MAGIC}) {
            BitWriter writer;
            writer.put_bits(0, static_cast<int>(at));
            writer.put_bits(magic >> 16, 32);
            writer.put_bits(magic & 0xffff, 16);
            writer.put_bits(0, 20);
            const Bytes bytes = writer.bytes();
            const MagicHit hit = find_magic(bytes.data(), 0, at + MAGIC_BITS);
            EXPECT_EQ(hit.kind, magic == BLOCK_MAGIC ? MagicKind::block : MagicKind::end);
            EXPECT_EQ(hit.bit, at);
            EXPECT_EQ(find_magic(bytes.data(), 0, at + MAGIC_BITS - 1).kind, MagicKind::none) << "cut by the end";
            EXPECT_EQ(find_magic(bytes.data(), at + 1, bytes.size() * 8).kind, MagicKind::none) << "started past it";
        }
    }
}

TEST(Bzip2Blocks, BitsAppendAtEveryAlignmentAsOneByOne) {
    const Bytes source = text_like(40, 7);
    for (int before = 0; before < 9; ++before) {
        for (uint64_t from = 0; from < 9; ++from) {
            for (const uint64_t length : {0, 1, 7, 8, 9, 63, 64, 200}) {
                SCOPED_TRACE(std::to_string(before) + " " + std::to_string(from) + " " + std::to_string(length));
                BitWriter whole;
                BitWriter one_by_one;
                whole.put_bits(0x5a, before);
                one_by_one.put_bits(0x5a, before);
                whole.append_bits(source.data(), from, from + length);
                for (uint64_t bit = from; bit < from + length; ++bit)
                    one_by_one.put_bits(read_bits(source.data(), bit, 1), 1);
                EXPECT_TRUE(whole.bytes() == one_by_one.bytes());
                whole.put_bits(1, 1);
                one_by_one.put_bits(1, 1);
                EXPECT_TRUE(whole.bytes() == one_by_one.bytes()) << "the partial byte goes on where it was";
            }
        }
    }
}

TEST(Bzip2Blocks, StreamsOfEveryLevelCutIntoBlocksThatDecodeToTheSameBytes) {
    for (int level = 1; level <= 9; ++level) {
        SCOPED_TRACE(level);
        for (const size_t size : {size_t{1000}, size_t{250000} * static_cast<size_t>(level)}) {
            const Bytes input = text_like(size, static_cast<unsigned>(level));
            const SplitStream stream = split(compress(input, level));
            EXPECT_EQ(stream.blocks.size(), size == 1000 ? 1u : 3u);
            EXPECT_TRUE(decode_blocks(stream) == input);
            EXPECT_EQ(stream.combined_crc, stream.stored_crc);
        }
    }
}

TEST(Bzip2Blocks, ChunksJoinIntoOneStandardStreamWhateverTheThreads) {
    const size_t chunk = chunk_size(1);
    struct Case {
        const char* name;
        Bytes input;
        size_t blocks;
    };
    const Case cases[] = {
        {"empty", {}, 0},
        {"one byte", {'z'}, 1},
        {"just under a chunk", text_like(chunk - 1, 1), 1},
        {"a chunk", text_like(chunk, 2), 1},
        {"just over a chunk", text_like(chunk + 1, 3), 2},
        {"many chunks", text_like(5 * chunk + 17, 4), 6},
        {"runs of four, grown most", runs_of_four(2 * chunk + 5), 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes one = pack(c.input, 1, 1, 4096);
        EXPECT_TRUE(pack(c.input, 1, 2, 100000) == one) << "two threads";
        EXPECT_TRUE(pack(c.input, 1, 8, 33333) == one) << "eight threads";
        Bytes decoded;
        EXPECT_TRUE(decompress(one, decoded)) << "libbzip2 reads it as one stream";
        EXPECT_TRUE(decoded == c.input);
        const SplitStream stream = split(one);
        EXPECT_EQ(stream.blocks.size(), c.blocks);
        EXPECT_EQ(stream.combined_crc, stream.stored_crc);
        EXPECT_TRUE(decode_blocks(stream) == c.input);
    }
    const Bytes big_runs = runs_of_four(chunk_size(9) + 1);
    EXPECT_EQ(split(pack(big_runs, 9, 2, 65536)).blocks.size(), 2u) << "a full chunk of the worst input is one block";
}

TEST(Bzip2Blocks, JoinerRefusesWhatIsNotOneBlock) {
    StreamJoiner joiner(1);
    const Bytes two_blocks = compress(text_like(250000, 5), 1);
    EXPECT_FALSE(joiner.add_block_stream(two_blocks.data(), two_blocks.size()));
    const Bytes empty = compress({}, 1);
    EXPECT_FALSE(joiner.add_block_stream(empty.data(), empty.size()));
    const Bytes one = compress(text_like(5000, 6), 1);
    EXPECT_TRUE(joiner.add_block_stream(one.data(), one.size()));
}

}  // namespace
