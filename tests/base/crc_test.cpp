#include <zk/zk.h>

#include <gtest/gtest.h>

#include "base/crc_internal.h"

#include <array>
#include <cctype>
#include <cstdint>
#include <random>
#include <vector>

namespace {

const unsigned char DIGITS[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
constexpr uint32_t CHECK_VALUE = 0xFC891918;

// The definition, one table lookup per byte, against which the library's
// faster path is measured.
uint32_t reference_crc(const unsigned char* buf, size_t length) {
    uint32_t reg = 0xFFFFFFFF;
    for (size_t i = 0; i < length; ++i) {
        reg = (reg << 8) ^ zk::crc32_table[(reg >> 24) ^ buf[i]];
    }
    return ~reg;
}

TEST(Crc, TableIsBuiltFromThePolynomial) {
    zk::init_crc32();
    EXPECT_EQ(zk::crc32_table[0], 0u);
    EXPECT_EQ(zk::crc32_table[1], 0x04C11DB7u);
    EXPECT_EQ(zk::crc32_table[128], 0x690CE0EEu);
    EXPECT_EQ(zk::crc32_table[255], 0xB1F740B4u);
}

TEST(Crc, CheckValueOfTheNineDigits) {
    EXPECT_EQ(zk::crc32(DIGITS, 9), CHECK_VALUE);
    EXPECT_EQ(zk::crc32(DIGITS, 0), 0u);
    EXPECT_EQ(zk::crc32(DIGITS, -5), 0u);
}

TEST(Crc, AccumulationGivesTheCheckValueHoweverTheDigitsAreSplit) {
    // Every split of the nine digits into consecutive pieces: bit i of the
    // mask set means a cut after digit i.
    for (unsigned cuts = 0; cuts < (1u << 8); ++cuts) {
        EXPECT_EQ(zk::crc32_accum(nullptr, 0), 0u) << "a reset returns the CRC of nothing";
        uint32_t result = 0;
        int start = 0;
        for (int i = 0; i < 9; ++i) {
            if (i == 8 || (cuts & (1u << i))) {
                result = zk::crc32_accum(DIGITS + start, i + 1 - start);
                start = i + 1;
            }
        }
        EXPECT_EQ(result, CHECK_VALUE) << "cut mask " << cuts;
    }
}

TEST(Crc, EmptyAdditionsLeaveTheRunningValue) {
    zk::crc32_accum(nullptr, 0);
    zk::crc32_accum(DIGITS, 4);
    zk::crc32_accum(DIGITS + 4, 0);
    zk::crc32_accum(DIGITS + 4, -1);
    EXPECT_EQ(zk::crc32_accum(DIGITS + 4, 5), CHECK_VALUE);
}

TEST(Crc, SetStoresTheRegisterUncomplemented) {
    EXPECT_EQ(zk::crc32_set(0xFFFFFFFF), 0xFFFFFFFFu);
    EXPECT_EQ(zk::crc32_accum(DIGITS, 9), CHECK_VALUE) << "the same as a reset";

    // A computation resumes from the complement of an earlier result.
    zk::crc32_accum(nullptr, 0);
    const uint32_t partial = zk::crc32_accum(DIGITS, 5);
    zk::crc32_accum(nullptr, 0);
    zk::crc32_set(~partial);
    EXPECT_EQ(zk::crc32_accum(DIGITS + 5, 4), CHECK_VALUE);
}

TEST(Crc, CrcDoesNotDisturbTheRunningValue) {
    zk::crc32_accum(nullptr, 0);
    zk::crc32_accum(DIGITS, 3);
    zk::crc32(DIGITS, 9);
    const std::array<unsigned char, 256> identity = [] {
        std::array<unsigned char, 256> table{};
        for (int i = 0; i < 256; ++i) table[i] = static_cast<unsigned char>(i);
        return table;
    }();
    zk::crc32_monocase(identity.data(), DIGITS, 9);
    EXPECT_EQ(zk::crc32_accum(DIGITS + 3, 6), CHECK_VALUE);
}

TEST(Crc, MonocaseCrcIsTheCrcOfTheTranslatedBytes) {
    std::array<unsigned char, 256> identity{};
    std::array<unsigned char, 256> lower{};
    for (int i = 0; i < 256; ++i) {
        identity[i] = static_cast<unsigned char>(i);
        lower[i] = static_cast<unsigned char>(std::tolower(i));
    }
    EXPECT_EQ(zk::crc32_monocase(identity.data(), DIGITS, 9), CHECK_VALUE);

    const unsigned char mixed[] = {'R', 'e', 'A', 'd', 'M', 'e', '.', 'T', 'x', 'T'};
    const unsigned char folded[] = {'r', 'e', 'a', 'd', 'm', 'e', '.', 't', 'x', 't'};
    EXPECT_EQ(zk::crc32_monocase(lower.data(), mixed, 10), zk::crc32(folded, 10));
    EXPECT_EQ(zk::crc32_monocase(lower.data(), mixed, 0), 0u);
}

// The multi-byte path must agree with the byte step for every length and
// every alignment of the start, alone and when accumulated in pieces.
TEST(Crc, AgreesWithTheByteStepOnRandomBuffers) {
    std::mt19937 random(20240601);
    std::vector<unsigned char> data(70000);
    for (auto& byte : data) byte = static_cast<unsigned char>(random());
    zk::init_crc32();

    for (size_t length = 0; length <= 64; ++length) {
        for (size_t offset = 0; offset < 8; ++offset) {
            const uint32_t expected = length == 0 ? 0 : reference_crc(data.data() + offset, length);
            ASSERT_EQ(zk::crc32(data.data() + offset, static_cast<int>(length)), expected)
                << "length " << length << " offset " << offset;
        }
    }
    for (int round = 0; round < 200; ++round) {
        const size_t offset = random() % 64;
        const size_t length = 1 + random() % (data.size() - offset - 1);
        const unsigned char* start = data.data() + offset;
        const uint32_t expected = reference_crc(start, length);
        ASSERT_EQ(zk::crc32(start, static_cast<int>(length)), expected) << length << " at " << offset;

        zk::crc32_accum(nullptr, 0);
        uint32_t accumulated = 0;
        for (size_t done = 0; done < length;) {
            const size_t piece = std::min<size_t>(length - done, 1 + random() % 3000);
            accumulated = zk::crc32_accum(start + done, static_cast<int>(piece));
            done += piece;
        }
        ASSERT_EQ(accumulated, expected) << length << " at " << offset << " in pieces";
    }
}

// The register-passing step that keeps no state of its own: from any
// register, the multi-byte path folds in what the byte step does, and the
// step itself is the exported table's.
TEST(Crc, UpdateFromAnyRegisterAgreesWithTheByteStep) {
    std::mt19937 random(20250112);
    std::vector<unsigned char> data(64);
    for (auto& byte : data) byte = static_cast<unsigned char>(random());
    zk::init_crc32();
    for (int round = 0; round < 400; ++round) {
        const uint32_t start = static_cast<uint32_t>(random());
        const size_t offset = random() % 8;
        const size_t length = random() % (data.size() - offset + 1);
        uint32_t expected = start;
        for (size_t i = 0; i < length; ++i) expected = zk::crc32_byte_step(expected, data[offset + i]);
        ASSERT_EQ(zk::crc32_update(start, data.data() + offset, length), expected) << length << " at " << offset;
    }
    for (unsigned byte = 0; byte < 256; ++byte) {
        ASSERT_EQ(zk::crc32_byte_step(0, static_cast<unsigned char>(byte)), zk::crc32_table[byte]) << byte;
    }
    EXPECT_EQ(~zk::crc32_update(0xFFFFFFFF, DIGITS, 9), CHECK_VALUE);
}

}  // namespace
