#include "package_util.h"
#include "support.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// The installer takes the first marker in its file: an executable that may
// serve as the stub must not hold the marker's bytes in one piece, or every
// package built on it would be read from the wrong place.
TEST(StubScan, NoBuiltExecutableThatCanBeAStubHoldsTheMarker) {
    int scanned = 0;
    for (const std::string& path : {zktest::zkinstall_path(), zktest::zkpack_path()}) {
        if (!zktest::exists(path)) continue;
        ++scanned;
        const std::string image = zktest::read_file(path);
        ASSERT_GT(image.size(), 0u) << path;
        EXPECT_EQ(image.find(zkpacktest::marker()), std::string::npos) << path;
    }
    EXPECT_GT(scanned, 0) << "zkpack at least is built before the tests";
}

}  // namespace
