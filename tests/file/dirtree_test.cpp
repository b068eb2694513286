// Directory trees and the openers that create the directories they need,
// checked on disk in a scratch directory under a known file-creation mask.
#include <zk/zk.h>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "support.h"

namespace {

bool is_directory(const std::string& path) {
    struct stat status;
    return ::lstat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

class UmaskGuard {
public:
    explicit UmaskGuard(mode_t mask) : saved_(::umask(mask)) {}
    ~UmaskGuard() { ::umask(saved_); }
    UmaskGuard(const UmaskGuard&) = delete;
    UmaskGuard& operator=(const UmaskGuard&) = delete;

private:
    mode_t saved_;
};

class DirTree : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(::chdir(dir.path().c_str()), 0); }

    zktest::CwdGuard cwd_guard;
    zktest::TempDir dir;
    UmaskGuard mask{022};
};

TEST_F(DirTree, MakesMissingLevelsBelowAnExistingFirstComponent) {
    struct Case {
        const char* name;
        std::vector<std::string> before;  // directories made first
        std::vector<std::string> files;   // regular files made first
        const char* path;
        int result;
        std::vector<std::string> made;  // directories afterwards
        std::vector<std::string> absent;
    };
    const Case cases[] = {
        {"existing", {"x"}, {}, "x", 0, {"x"}, {}},
        {"single level", {}, {}, "solo", 0, {"solo"}, {}},
        {"partial", {"x"}, {}, "x/y/z", 0, {"x/y", "x/y/z"}, {}},
        {"trailing delimiter", {"x"}, {}, "x/y/", 0, {"x/y"}, {}},
        {"repeated delimiter", {"x"}, {}, "x//y/z", 0, {"x/y", "x/y/z"}, {}},
        {"missing first component", {}, {}, "x/y", -1, {}, {"x"}},
        {"missing first of many", {}, {}, "a/b/c/d", -1, {}, {"a"}},
        // Not a directory made: a file already holds the name.
        {"file in the way", {}, {"f"}, "f", -1, {}, {}},
        {"file as a parent", {}, {"f"}, "f/x", -1, {}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        zktest::TempDir scratch;
        ASSERT_EQ(::chdir(scratch.path().c_str()), 0);
        for (const auto& d : c.before) ASSERT_EQ(::mkdir(d.c_str(), 0755), 0);
        for (const auto& f : c.files) zktest::write_file(f, "");
        EXPECT_EQ(zk::make_directory_tree(c.path, 0755), c.result);
        for (const auto& d : c.made) EXPECT_TRUE(is_directory(d)) << d << ": this directory should have been made";
        for (const auto& d : c.absent) EXPECT_FALSE(zktest::exists(d)) << d << ": this should not have been created";
        ASSERT_EQ(::chdir(dir.path().c_str()), 0);
    }
}

TEST_F(DirTree, FailedLevelKeepsTheSystemError) {
    zktest::write_file("f", "");
    errno = 0;
    EXPECT_EQ(zk::make_directory_tree("f", 0755), -1);
    EXPECT_EQ(errno, EEXIST);
    const std::string too_long(300, 'n');
    EXPECT_EQ(zk::make_directory_tree(too_long.c_str(), 0755), -1);
    EXPECT_EQ(errno, ENAMETOOLONG);
}

TEST_F(DirTree, AbsolutePathMakesEveryMissingLevel) {
    const std::string root = dir / "p/q/r";
    EXPECT_EQ(zk::make_directory_tree(root.c_str(), 0755), 0);
    for (const char* level : {"p", "p/q", "p/q/r"}) {
        EXPECT_TRUE(is_directory(dir / level)) << level;
        EXPECT_EQ(zktest::mode_of(dir / level), 0755u) << level;
    }
}

TEST_F(DirTree, SearchBitsAreAlwaysAddedBeforeTheMask) {
    struct Case {
        int mode;
        mode_t mask;
        mode_t expected;
    };
    const Case cases[] = {{0644, 022, 0755}, {0600, 0, 0711}, {0644, 077, 0700}, {0, 0, 0111}};
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(n);
        UmaskGuard mask_for_case(c.mask);
        const std::string name = "m" + std::to_string(n++);
        ASSERT_EQ(zk::make_directory_tree(name.c_str(), c.mode), 0);
        EXPECT_EQ(zktest::mode_of(name), c.expected);
    }
}

TEST_F(DirTree, EmptyPathIsReportedOnStandardOutput) {
    testing::internal::CaptureStdout();
    const int result = zk::make_directory_tree("", 0755);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "make_directory_tree: Attempting to make NULL directory\n");
    EXPECT_EQ(result, -1);
}

TEST_F(DirTree, Tree2MakesTheDirectoryOfAFileAndRestoresThePath) {
    ASSERT_EQ(::mkdir("a", 0755), 0);
    char path[] = "a/b/c/f";
    EXPECT_EQ(zk::make_directory_tree2(path, 0755), 0);
    EXPECT_STREQ(path, "a/b/c/f");
    EXPECT_TRUE(is_directory("a/b/c"));
    EXPECT_FALSE(zktest::exists("a/b/c/f"));

    char missing_first[] = "n/b/f";
    EXPECT_EQ(zk::make_directory_tree2(missing_first, 0755), -1);
    EXPECT_STREQ(missing_first, "n/b/f");

    char no_delimiter[] = "f";
    EXPECT_EQ(zk::make_directory_tree2(no_delimiter, 0755), -1);
}

TEST_F(DirTree, OpenersMakeTheMissingDirectoryAndRetry) {
    ASSERT_EQ(::mkdir("a", 0755), 0);
    char stream_path[] = "a/b/f";
    FILE* stream = zk::mkdir_fopen(stream_path, "w", 0700);
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(std::fputs("data", stream), 1);
    std::fclose(stream);
    EXPECT_EQ(zktest::read_file("a/b/f"), "data");
    EXPECT_EQ(zktest::mode_of("a/b"), 0711u);

    char fd_path[] = "a/c/g";
    const int fd = zk::mkdir_open(fd_path, O_WRONLY | O_CREAT | O_EXCL, 0640);
    ASSERT_GE(fd, 0);
    ::close(fd);
    EXPECT_EQ(zktest::mode_of("a/c"), 0751u);
    EXPECT_EQ(zktest::mode_of("a/c/g"), 0640u);

    // Without the first component no directory is made and nothing opens.
    char unreachable[] = "n/b/f";
    EXPECT_EQ(zk::mkdir_fopen(unreachable, "w", 0755), nullptr);
    EXPECT_EQ(zk::mkdir_open(unreachable, O_WRONLY | O_CREAT, 0644), -1);
    EXPECT_FALSE(zktest::exists("n"));

    // An existing file opens at once; no directory is touched.
    FILE* again = zk::mkdir_fopen(stream_path, "r", 0755);
    ASSERT_NE(again, nullptr);
    std::fclose(again);
}

}  // namespace
