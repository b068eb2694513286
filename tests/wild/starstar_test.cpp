#include <zk/zk.h>
#include "wild/wild_internal.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "support.h"
#include "wild_test_support.h"

namespace {

using Names = std::vector<std::string>;
using wildtest::glob_names;
using wildtest::make_tree;

// src/a/b and src/c have no sub-directories (link count 2); src/d holds no
// x.c but a sub-directory that does.
const std::vector<std::string> source_tree = {
    "src/",      "src/x.c", "src/a/",   "src/a/x.c",   "src/a/b/",   "src/a/b/x.c", "src/c/",
    "src/c/x.c", "src/d/",  "src/d/e/", "src/d/e/x.c", "src/d/e/g/", "src/d/y.c",
};

class StarStar : public testing::Test {
protected:
    StarStar() { make_tree(tree.root(), source_tree); }
    std::string absolute(const std::string& name) const { return wildtest::current_directory() + "/" + name; }
    wildtest::InScratchTree tree;
};

TEST_F(StarStar, InTheMiddleCollectsOnlyDirectoriesWhereTheRestExists) {
    EXPECT_EQ(glob_names("src/**/x.c", zk::WILD_FILES),
              (Names{absolute("src/a/x.c"), absolute("src/d/e/x.c"), "src/x.c"}))
        << "src/a/b and src/c have no sub-directories, src/d is passed through";
}

TEST_F(StarStar, AtTheEndYieldsTheBaseAndDirectoriesWithSubdirectories) {
    EXPECT_EQ(glob_names("src/**", zk::WILD_DIRS),
              (Names{absolute("src/a"), absolute("src/d"), absolute("src/d/e"), "src"}));
}

TEST_F(StarStar, WithoutABaseStartsHere) {
    EXPECT_EQ(glob_names("**", zk::WILD_DIRS),
              (Names{absolute("./src"), absolute("./src/a"), absolute("./src/d"), absolute("./src/d/e")}));
}

TEST_F(StarStar, NeverEntersSymbolicLinks) {
    ASSERT_EQ(::symlink("../d", (tree / "src/c/link").c_str()), 0);
    make_tree(tree.root(), {"src/c/real/", "src/c/real/z/"});
    EXPECT_EQ(glob_names("src/c/**", zk::WILD_DIRS), (Names{absolute("src/c/real"), "src/c"}));
}

TEST_F(StarStar, PatternRestIsNotProbedWhenItHasWildcards) {
    EXPECT_EQ(glob_names("src/**/*.c", zk::WILD_FILES),
              (Names{absolute("src/a/x.c"), absolute("src/d/e/x.c"), absolute("src/d/y.c"), "src/x.c"}));
}

TEST_F(StarStar, AbsoluteBaseAndTheWorkingDirectoryStaysPut) {
    const std::string here = wildtest::current_directory();
    EXPECT_EQ(glob_names(tree.root() + "/src/**", zk::WILD_DIRS),
              (Names{tree.root() + "/src", tree.root() + "/src/a", tree.root() + "/src/d", tree.root() + "/src/d/e"}));
    EXPECT_EQ(wildtest::current_directory(), here);
}

// The library names the working directory however long its name: the
// cache, simplification and the walk below it agree with the system.
TEST_F(StarStar, WorksBelowAWorkingDirectory3000BytesDeep) {
    const std::string segment(100, 'n');
    while (wildtest::current_directory().size() < 3000) {
        ASSERT_EQ(::mkdir(segment.c_str(), 0755), 0);
        ASSERT_EQ(::chdir(segment.c_str()), 0);
    }
    zk::get_cwd_changed_directory();
    const std::string deep = wildtest::current_directory();
    make_tree(deep, {"in/", "in/sub/", "in/sub/leaf/"});

    EXPECT_EQ(zk::get_cwd(), deep);
    char* simplified = zk::simplify_filename("in/./sub/../sub//leaf");
    EXPECT_EQ(simplified, deep + "/in/sub/leaf");
    zk::chk_free(simplified);
    EXPECT_EQ(glob_names(tree.root() + "/src/**", zk::WILD_DIRS)->size(), 4u);
    EXPECT_EQ(wildtest::current_directory(), deep);
    EXPECT_EQ(glob_names("in/**", zk::WILD_DIRS), (Names{deep + "/in/sub", "in"}));
    EXPECT_EQ(wildtest::current_directory(), deep);
    zk::get_cwd_changed_directory();
}

TEST_F(StarStar, WalkReportsWhetherItCouldEnter) {
    zk::DSTR collector;
    zk::dstr_init(&collector, 32);
    EXPECT_EQ(zk::wild_star_star(&collector, "src/x.c", 0, nullptr), 0);
    EXPECT_EQ(zk::wild_star_star(&collector, "no-such-dir", 0, nullptr), 0);
    EXPECT_EQ(collector.dl_len, 0);
    EXPECT_EQ(zk::wild_star_star(&collector, "src/c", 0, nullptr), 1);
    EXPECT_EQ(collector.dl_len, 0) << "src/c has no sub-directories";
    zk::dstr_free(&collector);
}

// Walks `directory` and returns the collected paths, sorted.
Names collect(const char* directory, const char* rest) {
    zk::DSTR collector;
    zk::dstr_init(&collector, 32);
    zk::wild_star_star(&collector, directory, 0, rest);
    Names paths;
    for (int offset = 0; offset < collector.dl_len; offset += static_cast<int>(sizeof(char*))) {
        char* path;
        std::memcpy(&path, collector.dl_buf + offset, sizeof path);
        paths.push_back(path);
        zk::chk_free(path);
    }
    zk::dstr_free(&collector);
    std::sort(paths.begin(), paths.end());
    return paths;
}

TEST_F(StarStar, CollectsOnlyDirectoriesWhereAPlainRestExists) {
    EXPECT_EQ(collect("src", "x.c"), (Names{absolute("src/a"), absolute("src/d/e")}));
    EXPECT_EQ(collect("src", "e/x.c"), (Names{absolute("src/d")}));
    EXPECT_EQ(collect("src", "*.c"), (Names{absolute("src/a"), absolute("src/d"), absolute("src/d/e")}));
    EXPECT_EQ(collect("src", nullptr), (Names{absolute("src/a"), absolute("src/d"), absolute("src/d/e")}));
}

TEST_F(StarStar, SkipsADirectoryItCannotEnter) {
    if (::geteuid() == 0) GTEST_SKIP() << "the superuser enters every directory";
    make_tree(tree.root(), {"src/d/locked/", "src/d/locked/in/", "src/d/locked/in/deeper/"});
    ASSERT_EQ(::chmod((tree / "src/d/locked").c_str(), 0), 0);
    const std::string here = wildtest::current_directory();
    EXPECT_EQ(glob_names("src/d/**", zk::WILD_DIRS), (Names{absolute("src/d/e"), absolute("src/d/locked"), "src/d"}));
    EXPECT_EQ(wildtest::current_directory(), here);
}

}  // namespace
