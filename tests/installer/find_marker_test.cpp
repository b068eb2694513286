#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>

#include "installer_state.h"
#include "package.h"
#include "package_util.h"
#include "support.h"

namespace {

const std::string MARKER = zkpacktest::marker();

struct MarkerCase {
    const char* what;
    std::string content;
    uint32_t start;
    uint32_t limit_beyond_size;  // a limit past the file's end, as for a file that shrank
    uint32_t expected;
};

void PrintTo(const MarkerCase& c, std::ostream* os) { *os << c.what; }

// A file of `size` bytes of `fill` with the marker at each offset.
std::string markers_at(std::initializer_list<size_t> offsets, size_t size, char fill = 'x') {
    std::string content(size, fill);
    for (size_t offset : offsets) content.replace(offset, MARKER.size(), MARKER);
    return content;
}

class FindMarker : public ::testing::TestWithParam<MarkerCase> {
protected:
    void SetUp() override {
        installer_state = InstallerState{};
        assemble_marker(installer_state.marker);
    }
    zktest::TempDir dir;
};

TEST_P(FindMarker, FindsFirstOccurrence) {
    const MarkerCase& c = GetParam();
    const std::string path = dir / "file";
    zktest::write_file(path, c.content);
    const int fd = ::open(path.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    const auto limit = static_cast<uint32_t>(c.content.size()) + c.limit_beyond_size;
    EXPECT_EQ(find_marker(fd, c.start, limit), c.expected) << c.what;
    ::close(fd);
}

// Offsets are counted in the installer's reads, so that the cases cross
// their boundaries whatever the read size.
constexpr size_t BLOCK = READ_BLOCK_SIZE;
constexpr uint32_t at(size_t offset) { return static_cast<uint32_t>(offset); }

std::string false_start_then_marker() {
    // A cut candidate at the block's end that turns out wrong must not hide
    // the real marker just after it.
    std::string content = markers_at({BLOCK + 476}, 3 * BLOCK);
    content.replace(BLOCK - 6, 10, MARKER.substr(0, 9) + "X");
    return content;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FindMarker,
    ::testing::Values(
        MarkerCase{"inside the first block", markers_at({100}, 3 * BLOCK), 0, 0, 100},
        MarkerCase{"ending exactly at the block's end", markers_at({BLOCK - MARKER.size()}, 3 * BLOCK), 0, 0,
                   at(BLOCK - MARKER.size())},
        MarkerCase{"straddling the first boundary", markers_at({BLOCK - 4}, 3 * BLOCK), 0, 0, at(BLOCK - 4)},
        MarkerCase{"only its first byte in the first block", markers_at({BLOCK - 1}, 3 * BLOCK), 0, 0, at(BLOCK - 1)},
        MarkerCase{"straddling the second boundary", markers_at({2 * BLOCK - 8}, 3 * BLOCK), 0, 0, at(2 * BLOCK - 8)},
        MarkerCase{"first of two", markers_at({500, 2 * BLOCK + 500}, 3 * BLOCK), 0, 0, 500},
        MarkerCase{"second of two, searched from past the first", markers_at({500, 2 * BLOCK}, 3 * BLOCK), 600, 0,
                   at(2 * BLOCK)},
        MarkerCase{"among candidates everywhere", markers_at({BLOCK + 3000}, 2 * BLOCK, '\x01'), 0, 0,
                   at(BLOCK + 3000)},
        MarkerCase{"false start cut at the block's end", false_start_then_marker(), 0, 0, at(BLOCK + 476)},
        MarkerCase{"absent", std::string(2 * BLOCK + 100, 'x'), 0, 0, 0},
        MarkerCase{"cut short by the file's end", std::string(2 * BLOCK - 8, 'x') + MARKER.substr(0, 10), 0, 0, 0},
        MarkerCase{"cut short by the end of a file that shrank", std::string(2 * BLOCK - 8, 'x') + MARKER.substr(0, 10),
                   0, 100, 0},
        MarkerCase{"empty file", std::string(), 0, 0, 0}));

}  // namespace
