#include "helpers.h"

#include <zk/zk.h>

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

using expandtest::InDirectory;
using expandtest::take_text;
using expandtest::take_texts;
using Names = std::vector<std::string>;

namespace {

constexpr int files_and_dirs = zk::WILD_FILES | zk::WILD_DIRS;

// a.c, b.c, b.h, C.h, "my file", sub/, sub/x.c in a fresh working directory.
class ShellExpand : public ::testing::Test {
protected:
    ShellExpand() {
        for (const char* file : {"a.c", "b.c", "b.h", "C.h", "my file"}) zktest::write_file(temp_ / file, "");
        ::mkdir((temp_ / "sub").c_str(), 0755);
        zktest::write_file(temp_ / "sub/x.c", "");
    }

    Names expand(const char* text, int flags = files_and_dirs) { return take_texts(zk::shell_expand(text, flags)); }

    zktest::TempDir temp_;
    InDirectory in_{temp_.path()};
};

TEST_F(ShellExpand, OneWordKeepsTheOrderOfGlobbing) {
    EXPECT_EQ(expand("*.c"), (Names{"a.c", "b.c"}));
    EXPECT_EQ(expand("*.h"), (Names{"C.h", "b.h"}));
    EXPECT_EQ(expand("*.h", files_and_dirs | zk::WILD_SORT_NOCASE), (Names{"b.h", "C.h"}));
    EXPECT_EQ(expand("sub/*"), (Names{"sub/x.c"}));
}

TEST_F(ShellExpand, SeveralWordsAreMergedSortedAndDeduplicated) {
    EXPECT_EQ(expand("*.h b.c *.c"), (Names{"C.h", "a.c", "b.c", "b.h"}));
    EXPECT_EQ(expand("b.c b.c"), (Names{"b.c"}));
    EXPECT_EQ(expand("*.{c,h}"), (Names{"C.h", "a.c", "b.c", "b.h"}));
    EXPECT_EQ(expand("*.{c,h}", files_and_dirs | zk::WILD_SORT_NOCASE), (Names{"a.c", "b.c", "b.h", "C.h"}));
    EXPECT_EQ(expand("{b,a}.c;sub/*.c"), (Names{"a.c", "b.c", "sub/x.c"}));
}

TEST_F(ShellExpand, TheMergedSortFollowsTheSortFlags) {
    EXPECT_EQ(expand("a.c * x", files_and_dirs | zk::WILD_SORT_DIRSFIRST),
              (Names{"sub", "C.h", "a.c", "b.c", "b.h", "my file", "x"}));
}

TEST_F(ShellExpand, QuotedWordsAreTakenLiterally) {
    EXPECT_EQ(expand("\"*.c\""), (Names{"*.c"}));
    EXPECT_EQ(expand("\"{a,b}.c\" a.c"), (Names{"a.c", "{a,b}.c"}));
    EXPECT_EQ(expand("\"my file\" a.c"), (Names{"a.c", "my file"}));
}

TEST_F(ShellExpand, BlanksSplitWordsUnlessKept) {
    EXPECT_EQ(expand("my file"), (Names{"file", "my"}));
    EXPECT_EQ(expand("my file", files_and_dirs | zk::SHELL_KEEP_BLANKS), (Names{"my file"}));
    EXPECT_EQ(expand("my f* \"a.c\"", files_and_dirs | zk::SHELL_KEEP_BLANKS), (Names{"a.c", "my file"}));
}

TEST_F(ShellExpand, AWordThatMatchesNothingDisappears) {
    EXPECT_EQ(expand("*.zz plain"), (Names{"plain"}));
    EXPECT_EQ(expand("*.zz"), (Names{}));
    EXPECT_EQ(expand("*.c", 0), (Names{}));
    EXPECT_EQ(expand(""), (Names{}));
    EXPECT_EQ(expand("a.c  ;; "), (Names{"a.c"}));
}

TEST_F(ShellExpand, CommandsComeBackWhole) {
    EXPECT_EQ(expand("!ls *.c {a,b}"), (Names{"!ls *.c {a,b}"}));
    EXPECT_EQ(expand("|sort -u"), (Names{"|sort -u"}));
}

TEST(WildDollarSubstitute, Table) {
    zktest::EnvGuard value("ZKT_DIR", "/home/u");
    zktest::EnvGuard underscore("_ZKT", "under");
    zktest::EnvGuard empty("ZKT_EMPTY", "");
    zktest::EnvGuard unset("ZKT_UNSET", std::nullopt);
    const std::pair<const char*, const char*> cases[] = {
        {"plain", "plain"},
        {"$ZKT_DIR/x", "/home/u/x"},
        {"a$ZKT_DIR.b", "a/home/u.b"},
        {"$ZKT_DIR$ZKT_DIR", "/home/u/home/u"},
        {"$_ZKT", "under"},
        {"[$ZKT_EMPTY]", "[]"},
        {"$ZKT_UNSET/x", "/x"},
        {"\\$ZKT_DIR/x", "$ZKT_DIR/x"},
        {"a\\$ZKT_DIR", "a$ZKT_DIR"},
        {"\\$1", "\\$1"},
        {"$1", "$1"},
        {"$$", "$$"},
        {"$", "$"},
        {"x$", "x$"},
        {"$ ZKT_DIR", "$ ZKT_DIR"},
        {"${ZKT_DIR}", "${ZKT_DIR}"},
        {"$-x", "$-x"},
    };
    for (const auto& [text, expected] : cases) EXPECT_EQ(take_text(zk::wild_dollar_substitute(text)), expected) << text;
}

TEST(WildDollarSubstitute, OverLongNamesAreConsumedWhole) {
    const std::string name254 = "ZKT" + std::string(251, 'N');
    zktest::EnvGuard variable(name254, "v");
    const std::string longer = name254 + std::string(4000, 'X');
    EXPECT_EQ(take_text(zk::wild_dollar_substitute(("<$" + name254 + ">").c_str())), "<v>");
    // Only the first 254 characters are looked up; the rest of the name goes.
    EXPECT_EQ(take_text(zk::wild_dollar_substitute(("<$" + longer + ">").c_str())), "<v>");
    const std::string unknown = "ZKU" + std::string(5000, 'Y');
    EXPECT_EQ(take_text(zk::wild_dollar_substitute(("<$" + unknown + ">").c_str())), "<>");
}

TEST_F(ShellExpand, ExpandFilenamePointerRules) {
    const char* plain = "plain/name";
    EXPECT_EQ(zk::expand_filename(plain), plain);

    const char* first = zk::expand_filename("*.c");
    EXPECT_STREQ(first, "a.c");
    const char* another_plain = "b.h";
    EXPECT_EQ(zk::expand_filename(another_plain), another_plain);
    EXPECT_STREQ(first, "a.c") << "a plain name keeps the last expansion";

    EXPECT_STREQ(zk::expand_filename("*.zz"), "");
    EXPECT_STREQ(zk::expand_filename("s?b"), "sub");
    EXPECT_STREQ(zk::expand_filename("*.{h,c}"), "C.h");
}

TEST_F(ShellExpand, ExpandFilenameTilde) {
    zktest::EnvGuard home("HOME", expandtest::home);
    EXPECT_EQ(std::string(zk::expand_filename("~/x")), std::string(expandtest::home) + "/x");
    EXPECT_EQ(std::string(zk::expand_filename("~")), expandtest::home);
}

}  // namespace
