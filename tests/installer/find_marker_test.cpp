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

std::string false_start_then_marker() {
    // A cut candidate at the block's end that turns out wrong must not hide
    // the real marker just after it.
    std::string content = markers_at({1500}, 3000);
    content.replace(1018, 10, MARKER.substr(0, 9) + "X");
    return content;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FindMarker,
    ::testing::Values(MarkerCase{"inside the first block", markers_at({100}, 3000), 0, 0, 100},
                      MarkerCase{"ending exactly at the block's end", markers_at({1010}, 3000), 0, 0, 1010},
                      MarkerCase{"straddling the 1024-byte boundary", markers_at({1020}, 3000), 0, 0, 1020},
                      MarkerCase{"only its first byte in the first block", markers_at({1023}, 3000), 0, 0, 1023},
                      MarkerCase{"straddling the second boundary", markers_at({2040}, 3000), 0, 0, 2040},
                      MarkerCase{"first of two", markers_at({500, 2500}, 3000), 0, 0, 500},
                      MarkerCase{"second of two, searched from past the first", markers_at({500, 2000}, 3000), 600, 0,
                                 2000},
                      MarkerCase{"among candidates everywhere", markers_at({3000}, 4000, '\x01'), 0, 0, 3000},
                      MarkerCase{"false start cut at the block's end", false_start_then_marker(), 0, 0, 1500},
                      MarkerCase{"absent", std::string(5000, 'x'), 0, 0, 0},
                      MarkerCase{"cut short by the file's end", std::string(2040, 'x') + MARKER.substr(0, 10), 0, 0, 0},
                      MarkerCase{"cut short by the end of a file that shrank",
                                 std::string(2040, 'x') + MARKER.substr(0, 10), 0, 100, 0},
                      MarkerCase{"empty file", std::string(), 0, 0, 0}));

}  // namespace
