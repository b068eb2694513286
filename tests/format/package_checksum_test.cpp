// The package checksum against the plain CRC of the file with its checksum
// field cleared: however the file is cut into pieces, and whatever else
// runs a CRC meanwhile.
#include "package_checksum.h"
#include "package_format.h"

#include <zk/base/crc.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

namespace {

using package_format::Checksum;

std::vector<unsigned char> random_file(std::mt19937& random, size_t size) {
    std::vector<unsigned char> file(size);
    for (auto& byte : file) byte = static_cast<unsigned char>(random() | 1);
    return file;
}

uint32_t cleared_crc(std::vector<unsigned char> file, size_t marker_offset) {
    const size_t field = marker_offset + package_format::HEADER_CHECKSUM;
    std::fill_n(file.begin() + static_cast<long>(field), package_format::CHECKSUM_SIZE, 0);
    return zk::crc32(file.data(), static_cast<int>(file.size()));
}

TEST(PackageChecksum, CountsTheFieldAsZerosWhereverThePiecesFall) {
    std::mt19937 random(172);
    for (const size_t marker_offset : {size_t{0}, size_t{5}, size_t{4093}}) {
        const std::vector<unsigned char> file = random_file(random, marker_offset + 3000);
        const uint32_t expected = cleared_crc(file, marker_offset);
        const size_t field = marker_offset + package_format::HEADER_CHECKSUM;

        // Every cut from one byte before the field to one after, then the rest
        // in random pieces; a second file interleaved, with the library's own
        // running CRC in between.
        for (size_t cut = field - std::min<size_t>(field, 1); cut <= field + 5; ++cut) {
            Checksum checksum(marker_offset);
            Checksum other(0);
            zk::crc32_accum(nullptr, 0);
            checksum.add(file.data(), cut);
            other.add(file.data(), 100);
            zk::crc32_accum(file.data(), 7);
            for (size_t done = cut; done < file.size();) {
                const size_t piece = std::min<size_t>(file.size() - done, 1 + random() % 9);
                checksum.add(file.data() + done, piece);
                done += piece;
            }
            other.add(file.data() + 100, file.size() - 100);
            EXPECT_EQ(checksum.value(), expected) << "marker at " << marker_offset << ", cut at " << cut;
            EXPECT_EQ(other.value(), cleared_crc(file, 0));
        }
    }
}

}  // namespace
