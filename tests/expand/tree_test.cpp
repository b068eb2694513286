#include "helpers.h"

#include <zk/zk.h>

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

using expandtest::InDirectory;
using expandtest::take_glob_names;
using Names = std::vector<std::string>;

namespace {

constexpr int files_and_dirs = zk::WILD_FILES | zk::WILD_DIRS;

// d/f1, d/.hidden, d/e/ (empty), d/s/f2, d/s/t/f3, and f0 beside d.
void make_tree(const zktest::TempDir& temp) {
    for (const char* dir : {"d", "d/e", "d/s", "d/s/t"}) ASSERT_EQ(::mkdir((temp / dir).c_str(), 0755), 0);
    for (const char* file : {"f0", "d/f1", "d/.hidden", "d/s/f2", "d/s/t/f3"}) zktest::write_file(temp / file, "x");
}

TEST(ExpandDirectoryTree, ListsFilesInAndBelowNeverDirectories) {
    zktest::TempDir temp;
    make_tree(temp);
    InDirectory in(temp.path());
    EXPECT_EQ(take_glob_names(zk::expand_directory_tree("d", files_and_dirs)), (Names{"d/f1", "d/s/f2", "d/s/t/f3"}));
}

TEST(ExpandDirectoryTree, EntersOnlyDirectoriesThatGlobbingLists) {
    zktest::TempDir temp;
    make_tree(temp);
    InDirectory in(temp.path());
    EXPECT_EQ(take_glob_names(zk::expand_directory_tree("d", zk::WILD_FILES)), (Names{"d/f1"}));
}

TEST(ExpandDirectoryTree, DotEntriesAreNeverWalked) {
    zktest::TempDir temp;
    make_tree(temp);
    InDirectory in(temp.path());
    EXPECT_EQ(take_glob_names(zk::expand_directory_tree("d", files_and_dirs | zk::WILD_DOTFILES)),
              (Names{"d/.hidden", "d/f1", "d/s/f2", "d/s/t/f3"}));
}

TEST(ExpandDirectoryTree, EntriesKeepTheirStatus) {
    zktest::TempDir temp;
    make_tree(temp);
    zktest::write_file(temp / "d/s/big", std::string(1000, 'x'));
    InDirectory in(temp.path());
    zk::GLOB_ENTRY* tree = zk::expand_directory_tree("d/s", files_and_dirs);
    ASSERT_NE(tree, nullptr);
    ASSERT_STREQ(tree[0].name, "d/s/big");
    EXPECT_EQ(tree[0].status.st_size, 1000);
    EXPECT_TRUE(S_ISREG(tree[0].status.st_mode));
    take_glob_names(tree);
}

TEST(ExpandDirectoryTree, NothingFoundIsNull) {
    zktest::TempDir temp;
    make_tree(temp);
    InDirectory in(temp.path());
    EXPECT_EQ(zk::expand_directory_tree("d/e", files_and_dirs), nullptr);
    EXPECT_EQ(zk::expand_directory_tree("missing", files_and_dirs), nullptr);
}

TEST(ExpandDirectoryTree, APatternIsMatchedInItsOwnDirectory) {
    zktest::TempDir temp;
    make_tree(temp);
    ASSERT_EQ(::mkdir((temp / "d/fdir").c_str(), 0755), 0);
    zktest::write_file(temp / "d/fdir/inner", "x");
    zktest::write_file(temp / "d/g1", "x");
    InDirectory in(temp.path());
    EXPECT_EQ(take_glob_names(zk::expand_directory_tree("d/f*", files_and_dirs)), (Names{"d/f1", "d/fdir/inner"}));
    EXPECT_EQ(take_glob_names(zk::expand_directory_tree("f*", files_and_dirs)), (Names{"f0"}));
}

TEST(ExpandDirectoryTree, StopsBelowDepthOneThousand) {
    zktest::TempDir temp;
    std::string path = temp / "d";
    ASSERT_EQ(::mkdir(path.c_str(), 0755), 0);
    std::string deepest_listed;
    for (int level = 1; level <= 1001; ++level) {
        path += "/a";
        ASSERT_EQ(::mkdir(path.c_str(), 0755), 0) << "level " << level;
        if (level == 1000) {
            zktest::write_file(path + "/listed", "x");
            deepest_listed = path.substr(temp.path().size() + 1) + "/listed";
        }
    }
    zktest::write_file(path + "/too-deep", "x");
    InDirectory in(temp.path());
    EXPECT_EQ(take_glob_names(zk::expand_directory_tree("d", files_and_dirs)), (Names{deepest_listed}));
}

}  // namespace
