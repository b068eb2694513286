#include <zk/zk.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

Bytes bytes_of(const unsigned char* buf, size_t length) { return Bytes(buf, buf + length); }

TEST(ByteOrder, FixedWidthsAreBigEndianAndRoundTrip) {
    struct Case {
        int width;
        uint32_t value;
        Bytes expected;
    };
    const Case cases[] = {
        {8, 0xAB, {0xAB}},
        {8, 0x1FF, {0xFF}},  // only the low 8 bits are kept
        {16, 0x1234, {0x12, 0x34}},
        {16, 0xFFFF, {0xFF, 0xFF}},
        {16, 0x12345, {0x23, 0x45}},
        {24, 0x123456, {0x12, 0x34, 0x56}},
        {24, 0xFFFFFF, {0xFF, 0xFF, 0xFF}},
        {24, 0xAB123456, {0x12, 0x34, 0x56}},
        {32, 0x12345678, {0x12, 0x34, 0x56, 0x78}},
        {32, 0xFFFFFFFF, {0xFF, 0xFF, 0xFF, 0xFF}},
        {32, 0x80000001, {0x80, 0x00, 0x00, 0x01}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << "-bit 0x" << std::hex << c.value);
        unsigned char buf[4] = {};
        const uint32_t mask = c.width == 32 ? 0xFFFFFFFF : (uint32_t{1} << c.width) - 1;
        switch (c.width) {
            case 8:
                zk::LPUT8(buf, c.value);
                EXPECT_EQ(buf[0], c.value & mask);
                break;
            case 16:
                zk::LPUT16(buf, c.value);
                EXPECT_EQ(zk::LGET16(buf), c.value & mask);
                break;
            case 24:
                zk::LPUT24(buf, c.value);
                EXPECT_EQ(zk::LGET24(buf), c.value & mask);
                break;
            case 32: {
                zk::LPUT32(buf, c.value);
                EXPECT_EQ(zk::LGET32(buf), c.value);
                unsigned char pointer[4] = {};
                zk::LPUT_PTR(pointer, c.value);
                EXPECT_EQ(bytes_of(pointer, 4), c.expected);
                EXPECT_EQ(zk::LGET_PTR(pointer), c.value);
                EXPECT_EQ(zk::LGET_OBJECT(pointer), c.value);
                break;
            }
        }
        EXPECT_EQ(bytes_of(buf, c.expected.size()), c.expected);
    }
}

TEST(ByteOrder, SixtyFourBitsStoreTheLowHalfFirst) {
    unsigned char buf[8];
    zk::LPUT64(buf, 0x0102030405060708ULL);
    EXPECT_EQ(bytes_of(buf, 8), (Bytes{0x05, 0x06, 0x07, 0x08, 0x01, 0x02, 0x03, 0x04}));
    EXPECT_EQ(zk::LGET64(buf), 0x0102030405060708ULL);

    for (uint64_t value :
         {uint64_t{0}, uint64_t{0xFFFFFFFF}, uint64_t{1} << 32, ~uint64_t{0}, uint64_t{0x8000000000000001}}) {
        zk::LPUT64(buf, value);
        EXPECT_EQ(zk::LGET64(buf), value);
    }
}

TEST(ByteOrder, ReadersNeverSignExtend) {
    const unsigned char high[3] = {0xFF, 0xFE, 0xFD};
    EXPECT_EQ(zk::LGET16(high), 0xFFFEu);
    EXPECT_EQ(zk::LGET24(high), 0xFFFEFDu);
    EXPECT_EQ(zk::LGET_LIST(high), 0xFEFDu);
}

TEST(ByteOrder, RealsAreCopiedBitForBit) {
    const double values[] = {0.0,
                             -0.0,
                             1.5,
                             -3.25e300,
                             std::numeric_limits<double>::denorm_min(),
                             std::numeric_limits<double>::infinity(),
                             std::numeric_limits<double>::quiet_NaN(),
                             -std::numeric_limits<double>::signaling_NaN()};
    for (double value : values) {
        unsigned char buf[8];
        zk::LPUT_FLOAT(buf, value);
        EXPECT_EQ(std::memcmp(buf, &value, 8), 0) << "the host's own memory image";
        double back = 0;
        zk::LGET_FLOAT(buf, &back);
        EXPECT_EQ(std::memcmp(&back, &value, 8), 0) << value;
    }
}

TEST(ByteOrder, TaggedIntegersSwitchToNineBytesAtBitThirtyOne) {
    struct Case {
        int64_t value;
        Bytes expected;
    };
    const Case cases[] = {
        {0, {0x01, 0x00, 0x00, 0x00, 0x00}},
        {0x7FFFFFFF, {0x01, 0x7F, 0xFF, 0xFF, 0xFF}},
        {0x80000000, {0x10, 0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}},
        {0x100000000, {0x10, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01}},
        {-1, {0x10, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
        {std::numeric_limits<int64_t>::min(), {0x10, 0x00, 0x00, 0x00, 0x00, 0x80, 0x00, 0x00, 0x00}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        unsigned char buf[9];
        const int written = zk::LPUT_INTEGER(buf, c.value);
        ASSERT_EQ(written, static_cast<int>(c.expected.size()));
        EXPECT_EQ(bytes_of(buf, c.expected.size()), c.expected);
    }
}

TEST(ByteOrder, IdentifiersCarryTagFiveAndTenBits) {
    unsigned char buf[2];
    zk::LPUT_ID(buf, 0x2AB);
    EXPECT_EQ(bytes_of(buf, 2), (Bytes{0x85, 0xAB}));
    EXPECT_EQ(zk::LGET_ID(buf), 0x2ABu);

    zk::LPUT_ID(buf, 0x4AB);  // bit 10 is dropped
    EXPECT_EQ(bytes_of(buf, 2), (Bytes{0x05, 0xAB}));

    zk::LPUT_ID(buf, 0x3FF);
    EXPECT_EQ(bytes_of(buf, 2), (Bytes{0xC5, 0xFF}));

    const unsigned char other_tag[2] = {0x7F, 0x01};  // tag bits are ignored when reading
    EXPECT_EQ(zk::LGET_ID(other_tag), 0x101u);
}

TEST(ByteOrder, ListHeaderIsTagThreeAndSixteenBitCount) {
    unsigned char buf[3];
    zk::LPUT_LIST(buf, 300);
    EXPECT_EQ(bytes_of(buf, 3), (Bytes{0x03, 0x01, 0x2C}));
    EXPECT_EQ(zk::LGET_LIST(buf), 300u);
    zk::LPUT_LIST(buf, 0x12345);
    EXPECT_EQ(zk::LGET_LIST(buf), 0x2345u);
}

TEST(ByteOrder, WordConversionsOnThisLittleEndianHost) {
    const uint16_t probe = 1;
    unsigned char first;
    std::memcpy(&first, &probe, 1);
    ASSERT_EQ(first, 1) << "these expectations hold for a little-endian host";

    EXPECT_EQ(zk::WGET16(0x1234), 0x3412);
    EXPECT_EQ(zk::WGET16(0x80FF), 0xFF80) << "a result from 0 to 65535, never negative";
    EXPECT_EQ(zk::WGET32(0x11223344), 0x44332211u);

    // WGET32 reads the word's memory image as big-endian bytes, whatever the host.
    const unsigned char image[4] = {0xDE, 0xAD, 0xBE, 0xEF};
    uint32_t word;
    std::memcpy(&word, image, 4);
    EXPECT_EQ(zk::WGET32(word), 0xDEADBEEFu);
}

TEST(ByteOrder, SwapWordsConvertsEachWordInPlace) {
    uint32_t words[3] = {0x11223344, 0xAABBCCDD, 0x01020304};
    zk::swap_words(words, 2);
    EXPECT_EQ(words[0], 0x44332211u);
    EXPECT_EQ(words[1], 0xDDCCBBAAu);
    EXPECT_EQ(words[2], 0x01020304u) << "beyond the count";
    zk::swap_words(words, 0);
    zk::swap_words(words, -1);
    EXPECT_EQ(words[0], 0x44332211u);
}

}  // namespace
