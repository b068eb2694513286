#include <zk/zk.h>
#include "file/file_internal.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support.h"
#include "wild_test_support.h"

namespace {

using Names = std::vector<std::string>;
using wildtest::glob;
using wildtest::glob_names;
using wildtest::make_tree;

constexpr int files_and_dirs = zk::WILD_FILES | zk::WILD_DIRS;

class Glob : public testing::Test {
protected:
    wildtest::InScratchTree tree;
};

TEST_F(Glob, SortsByNameByNameIgnoringCaseOrDirectoriesFirst) {
    make_tree(tree.root(), {"beta", "Alpha", "delta", "Charlie/", "echo/"});
    EXPECT_EQ(glob_names("*", 0x03), (Names{"Alpha", "Charlie", "beta", "delta", "echo"}));
    EXPECT_EQ(glob_names("*", 0x43), (Names{"Alpha", "beta", "Charlie", "delta", "echo"}));
    EXPECT_EQ(glob_names("*", 0xC3), (Names{"Charlie", "echo", "Alpha", "beta", "delta"}));
    EXPECT_EQ(zk::glob_sort_flags, 0xC3) << "the sort leaves its flags for glob_compare";
}

TEST_F(Glob, NoSortKeepsEveryMatch) {
    make_tree(tree.root(), {"c", "a", "b"});
    auto names = glob_names("*", files_and_dirs | zk::WILD_NOSORT);
    ASSERT_TRUE(names);
    std::sort(names->begin(), names->end());
    EXPECT_EQ(names, (Names{"a", "b", "c"}));
}

TEST_F(Glob, DotFilesOnlyWithTheFlagOrALeadingDot) {
    make_tree(tree.root(), {".hidden", "shown", ".hdir/"});
    EXPECT_EQ(glob_names("*", files_and_dirs), (Names{"shown"}));
    EXPECT_EQ(glob_names("*", files_and_dirs | zk::WILD_DOTFILES), (Names{".", "..", ".hdir", ".hidden", "shown"}));
    EXPECT_EQ(glob_names(".h*", files_and_dirs), (Names{".hdir", ".hidden"}));
}

TEST_F(Glob, TypeFilterKeepsFilesDirectoriesOrNothing) {
    make_tree(tree.root(), {"file", "dir/"});
    EXPECT_EQ(glob_names("*", zk::WILD_FILES), (Names{"file"}));
    EXPECT_EQ(glob_names("*", zk::WILD_DIRS), (Names{"dir"}));
    EXPECT_EQ(glob_names("*", 0), Names{});
}

TEST_F(Glob, AllDirsAddsSubdirectoriesThatDoNotMatch) {
    make_tree(tree.root(), {"main.c", "notes", "src/", "doc/", ".git/", "src/a.c"});
    EXPECT_EQ(glob_names("*.c", files_and_dirs), (Names{"main.c"}));
    EXPECT_EQ(glob_names("*.c", files_and_dirs | zk::WILD_ALLDIRS), (Names{"doc", "main.c", "src"}));
    EXPECT_EQ(glob_names("*.c", files_and_dirs | zk::WILD_ALLDIRS | zk::WILD_DOTFILES),
              (Names{"..", ".git", "doc", "main.c", "src"}));
    EXPECT_EQ(glob_names("src/*.x", files_and_dirs | zk::WILD_ALLDIRS), Names{});
    ASSERT_EQ(::symlink("src", (tree / "srclink").c_str()), 0);
    EXPECT_EQ(glob_names("*.c", zk::WILD_DIRS | zk::WILD_ALLDIRS), (Names{"doc", "src", "srclink"}))
        << "a link to a directory counts as one";
}

TEST_F(Glob, NameWithoutWildcardIsKeptWhetherItExistsOrNot) {
    make_tree(tree.root(), {"there"});
    auto found = glob("no/such/file", 0);
    ASSERT_TRUE(found);
    ASSERT_EQ(found->size(), 1u);
    EXPECT_EQ((*found)[0].name, "no/such/file");
    EXPECT_EQ((*found)[0].status.st_mode, 0u);
    EXPECT_EQ((*found)[0].status.st_ino, 0u);

    found = glob("there", 0);
    ASSERT_TRUE(found);
    ASSERT_EQ(found->size(), 1u);
    EXPECT_TRUE(S_ISREG((*found)[0].status.st_mode));
    EXPECT_EQ((*found)[0].status.st_size, 5);
}

TEST_F(Glob, WildcardMatchingNothingGivesAnEmptyList) {
    make_tree(tree.root(), {"a"});
    EXPECT_EQ(glob_names("*.none", files_and_dirs), Names{});
    EXPECT_EQ(glob_names("nodir/*", files_and_dirs), Names{});
    EXPECT_EQ(glob_names("a/*", files_and_dirs), Names{}) << "a file is no directory to read";
}

TEST_F(Glob, EmptiedBasesStayEmpty) {
    make_tree(tree.root(), {"foo", "sub/", "plain", "x/", "x/deep/"});
    const std::string below = tree.root() + "/*/foo";
    EXPECT_EQ(glob_names(below, files_and_dirs), Names{});
    EXPECT_EQ(glob_names("x*/foo", files_and_dirs), Names{});
    EXPECT_EQ(glob_names("y*/foo", files_and_dirs), Names{}) << "no match must not start again from here";
    EXPECT_EQ(glob_names("y*/*", files_and_dirs), Names{});
    EXPECT_EQ(glob_names("y*/**", files_and_dirs), Names{});
}

TEST_F(Glob, LiteralsAfterAWildcardAreJoinedToEachMatch) {
    make_tree(tree.root(), {"a/", "b/", "c/", "a/in", "c/in", "a/in2"});
    EXPECT_EQ(glob_names("*/in", files_and_dirs), (Names{"a/in", "c/in"}));
    EXPECT_EQ(glob_names("*//in", files_and_dirs), (Names{"a/in", "c/in"})) << "an empty component adds nothing";
    EXPECT_EQ(glob_names("?/in?", files_and_dirs), (Names{"a/in2"}));
}

TEST_F(Glob, DollarComponentIsTheVariablesValue) {
    zktest::EnvGuard home("HOME", tree.root());
    zktest::EnvGuard unset("ZK_TEST_NO_SUCH_VARIABLE", std::nullopt);
    EXPECT_EQ(glob_names("$HOME/x", 0), (Names{tree.root() + "/x"}));
    EXPECT_EQ(glob_names("$ZK_TEST_NO_SUCH_VARIABLE/x", 0), (Names{"$ZK_TEST_NO_SUCH_VARIABLE/x"}));
}

TEST_F(Glob, LeadingTildeIsTheHomeDirectory) {
    make_tree(tree.root(), {"x1", "x2"});
    zktest::EnvGuard home("HOME", tree.root());
    zk::forget_home_directory();
    EXPECT_EQ(glob_names("~/x?", files_and_dirs), (Names{tree.root() + "/x1", tree.root() + "/x2"}));
    zk::forget_home_directory();
    EXPECT_EQ(zk::glob_filenames(nullptr, 0), nullptr);
}

TEST_F(Glob, LeadingDelimitersAreReducedOnlyWithWildcards) {
    make_tree(tree.root(), {"f"});
    zktest::EnvGuard where("ZK_TEST_TREE", tree.root());
    EXPECT_EQ(glob_names("/$ZK_TEST_TREE/*", files_and_dirs), (Names{tree.root() + "/f"}));
    EXPECT_EQ(glob_names("/$ZK_TEST_TREE/f", 0), (Names{"/" + tree.root() + "/f"}));
}

TEST_F(Glob, RootAndTrailingDelimiter) {
    make_tree(tree.root(), {"d/"});
    EXPECT_EQ(glob_names("/", 0), (Names{"/"}));
    EXPECT_EQ(glob_names("d/", 0), (Names{"d"}));
    EXPECT_EQ(glob_names("", 0), Names{});
}

TEST_F(Glob, CommandNameComesBackUnchanged) {
    zk::shell_error = 7;
    EXPECT_EQ(glob_names("|ls *", 0), (Names{"|ls *"}));
    EXPECT_EQ(glob_names("!cmd", files_and_dirs), (Names{"!cmd"}));
    EXPECT_EQ(zk::shell_error, 7) << "a command name is not a globbing call";
    glob_names("x", 0);
    EXPECT_EQ(zk::shell_error, 0);
}

TEST_F(Glob, StatusFollowsLinksUnlessAskedNotTo) {
    make_tree(tree.root(), {"d/"});
    ASSERT_EQ(::symlink("d", (tree / "link").c_str()), 0);
    struct stat status;
    ASSERT_EQ(zk::wild_stat("link", &status, 0), 0);
    EXPECT_TRUE(S_ISDIR(status.st_mode));
    ASSERT_EQ(zk::wild_stat("link", &status, zk::WILD_LSTAT), 0);
    EXPECT_TRUE(S_ISLNK(status.st_mode));
    zk::wild_lstat = 1;
    ASSERT_EQ(zk::wild_stat("link", &status, 0), 0);
    EXPECT_TRUE(S_ISLNK(status.st_mode));
    zk::wild_lstat = 0;
    EXPECT_EQ(glob_names("l*", zk::WILD_DIRS), (Names{"link"}));
    EXPECT_EQ(glob_names("l*", zk::WILD_DIRS | zk::WILD_LSTAT), Names{});
}

class GlobLimits : public Glob {
protected:
    void SetUp() override {
        zk::wild_limit_timeout = 0;
        zk::wild_limit_max_count = 0;
    }
};

TEST_F(GlobLimits, InitReadsTheEnvironment) {
    {
        zktest::EnvGuard timeout("ZK_WILD_LIMIT_TIMEOUT", "7");
        zktest::EnvGuard count("ZK_WILD_LIMIT_MAX_COUNT", "many");
        zk::wild_init();
    }
    EXPECT_EQ(zk::wild_limit_timeout, 7);
    EXPECT_EQ(zk::wild_limit_max_count, 0) << "a value that is no number switches the limit off";
    zk::wild_limit_max_count = 12;
    {
        zktest::EnvGuard timeout("ZK_WILD_LIMIT_TIMEOUT", std::nullopt);
        zktest::EnvGuard count("ZK_WILD_LIMIT_MAX_COUNT", std::nullopt);
        zk::wild_init();
    }
    EXPECT_EQ(zk::wild_limit_timeout, 7);
    EXPECT_EQ(zk::wild_limit_max_count, 12);
}

TEST_F(GlobLimits, CountLimitAddsOneMoreAndKeepsTheBase) {
    make_tree(tree.root(), {"many/"});
    for (int index = 0; index < 10; ++index) make_tree(tree.root(), {"many/f" + std::to_string(index)});
    zk::wild_limit_max_count = 3;
    auto names = glob_names("many/*", files_and_dirs);
    ASSERT_TRUE(names);
    ASSERT_EQ(names->size(), 5u);
    EXPECT_EQ((*names)[0], "many") << "the base that was being read stays";
    for (size_t index = 1; index < names->size(); ++index) EXPECT_EQ((*names)[index].rfind("many/f", 0), 0u);

    zk::wild_limit_max_count = 0;
    names = glob_names("many/*", files_and_dirs);
    ASSERT_TRUE(names);
    EXPECT_EQ(names->size(), 10u);
}

TEST_F(GlobLimits, CountLimitCountsAcrossBases) {
    make_tree(tree.root(), {"d1/", "d2/", "d1/a", "d1/b", "d2/a", "d2/b"});
    zk::wild_limit_max_count = 3;
    auto names = glob_names("d?/*", files_and_dirs);
    ASSERT_TRUE(names);
    const bool d1_kept = std::count(names->begin(), names->end(), "d1") == 1;
    const bool d2_kept = std::count(names->begin(), names->end(), "d2") == 1;
    EXPECT_NE(d1_kept, d2_kept) << "the base read first is replaced, the second stops the component";
    EXPECT_EQ(names->size(), 5u) << "four matches and the base that was being read";
}

TEST_F(GlobLimits, TimeoutStopsEveryWildcardComponentOnceItHasPassed) {
    make_tree(tree.root(), {"big/"});
    for (int index = 0; index < 20; ++index) {
        const std::string sub = "big/s" + std::to_string(index) + "/";
        make_tree(tree.root(), {sub, sub + "x1", sub + "x2", sub + "x3", sub + "x4", sub + "x5"});
    }
    wildtest::use_stepping_clock();
    zk::wild_limit_timeout = 1;
    auto found = glob("big/*/x*", files_and_dirs);
    ASSERT_TRUE(found);
    // The clock reads 1 when the call starts, so the deadline is 2. The
    // second component adds s entries until the count reaches 8 (clock 3);
    // the third stops at its first entry that makes the count a multiple of 4.
    int dirs = 0;
    int files = 0;
    for (const auto& entry : *found) (S_ISDIR(entry.status.st_mode) ? dirs : files) += 1;
    EXPECT_EQ(dirs, 7) << "the base being read and those not visited keep their names";
    EXPECT_EQ(files, 4);
    EXPECT_EQ(wildtest::stepping_clock_readings(), 4);
}

TEST_F(GlobLimits, WithoutATimeLimitTheClockIsNotRead) {
    make_tree(tree.root(), {"a", "b", "c", "d", "e", "f", "g", "h"});
    wildtest::use_stepping_clock();
    EXPECT_EQ(glob_names("*", files_and_dirs)->size(), 8u);
    EXPECT_EQ(wildtest::stepping_clock_readings(), 0);
}

}  // namespace
