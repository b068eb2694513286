#include "helpers.h"

#include <zk/zk.h>

#include <gtest/gtest.h>

#include <string>

using expandtest::InDirectory;
using expandtest::take_text;

namespace {

struct Case {
    const char* input;
    const char* expected;
};

std::string collapsed(const char* input) {
    std::string text = input;
    zk::wild_collapse(text.data());
    return text.c_str();
}

TEST(IsWildcard, DollarStarBracketAndQuestionMarkOnly) {
    EXPECT_EQ(zk::is_wildcard("a$b"), 1);
    EXPECT_EQ(zk::is_wildcard("x[1"), 1);
    EXPECT_EQ(zk::is_wildcard("*"), 1);
    EXPECT_EQ(zk::is_wildcard("a?"), 1);
    EXPECT_EQ(zk::is_wildcard("~/x"), 0);
    EXPECT_EQ(zk::is_wildcard("{a,b}"), 0);
    EXPECT_EQ(zk::is_wildcard(""), 0);
}

TEST(WildCollapse, Table) {
    constexpr Case cases[] = {
        {"/a/./b", "/a/b"},
        {"/a/b/..", "/a"},
        {"/a/..", "/"},
        {"/.", "/"},
        {"/a/.", "/a"},
        {"/../x", "/x"},
        {"/../../x", "/x"},
        {"/..", "/.."},  // left as it is: the one form that keeps a root ".."
        {"/a/b/../../c", "/c"},
        {"/a/b/../c/./d/..", "/a/c"},
        {"//a///b//", "/a/b/"},
        {"/a/./../b", "/b"},
        {"/./", "/"},
        {"a/.", "a"},
        {"a/./b", "a/b"},
        {"./a", "./a"},
        {"a/../b", "a/../b"},  // the first component of a relative name is never climbed over
        {"../a", "../a"},
        {"../x/..", ".."},
        {"a/b/../c", "a/c"},
        {"a/../../b", "a/../../b"},  // ".." cannot cancel ".."
        {"a/../..", "a/../.."},
        {"../../a/..", "../.."},
        {"/a/.../b", "/a/.../b"},
        {"/.../..", "/"},
        {"/a/.b/..c", "/a/.b/..c"},
        {"/", "/"},
        {"", ""},
        {".", "."},
    };
    for (const Case& c : cases) EXPECT_EQ(collapsed(c.input), c.expected) << "input " << c.input;
}

TEST(RemoveDotdot, Table) {
    constexpr Case cases[] = {
        {"/a/b/../c", "/a/c"},    {"/a/b/../../c", "/c"}, {"a/../b", "b"},
        {"x/a/../b", "x/b"},      {"/a/..", "/a/.."},                       // a trailing step is not touched
        {"/a/./b", "/a/./b"},     {"//a", "//a"},         {"/../b", "/b"},  // at the root ".." stays at the root
        {"/a/../../b", "/b"},     {"a/../../b", "../b"},  {"a/..//../b", "../b"},
        {"../../b", "../../b"},  // ".." is not a name to climb over
        {"a/./../b", "a/./../b"}, {"a//../b", "a//../b"}, {"", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(take_text(zk::remove_dotdot(c.input)), c.expected) << "input " << c.input;
}

TEST(RemoveDotdot, TakesNamesLongerThanALineBuffer) {
    const std::string long_name = "/" + std::string(1500, 'x');
    EXPECT_EQ(take_text(zk::remove_dotdot((long_name + "/../y").c_str())), "/y");
    EXPECT_EQ(take_text(zk::remove_dotdot((long_name + "/..").c_str())), long_name + "/..");
    EXPECT_EQ(take_text(zk::remove_dotdot(("/a/../" + long_name.substr(1)).c_str())), long_name);
}

TEST(SimplifyFilename, RelativeToADeepDirectory) {
    zktest::TempDir temp;
    ASSERT_EQ(::mkdir((temp / "u").c_str(), 0755), 0);
    ASSERT_EQ(::mkdir((temp / "u/deep").c_str(), 0755), 0);
    InDirectory in(temp / "u/deep");
    const std::string cwd = InDirectory::physical_cwd();
    const std::string parent = cwd.substr(0, cwd.rfind('/'));
    zktest::EnvGuard home("HOME", expandtest::home);

    const std::pair<const char*, std::string> cases[] = {
        {"docs/", cwd + "/docs"},
        {"a//b///c", cwd + "/a/b/c"},
        {"../x", parent + "/x"},
        {"./x", cwd + "/x"},
        {".", cwd},
        {"..", parent},
        {"x/./y/../z/.", cwd + "/x/z"},
        {"...", cwd + "/..."},
        {"/", "/"},
        {"//", "/"},
        {"/usr//local/./lib/../bin/", "/usr/local/bin"},
        {"~/x", std::string(expandtest::home) + "/x"},
        {"~//x/../y", std::string(expandtest::home) + "/y"},
        {"", ""},
        {"|cat a//b", "|cat a//b"},
        {"!x/../y", "!x/../y"},
    };
    for (const auto& [input, expected] : cases) {
        EXPECT_EQ(take_text(zk::simplify_filename(input)), expected) << "input " << input;
    }
}

TEST(SimplifyFilename, RelativeToTheRoot) {
    InDirectory in("/");
    constexpr Case cases[] = {
        {"x", "/x"}, {"x//y/", "/x/y"}, {"../x", "/x"}, {"./x/..", "/"}, {"..", "/.."},
    };
    for (const Case& c : cases) EXPECT_EQ(take_text(zk::simplify_filename(c.input)), c.expected) << "input " << c.input;
}

TEST(SimplifyAndExpandFilename, UnquotesAndSimplifies) {
    InDirectory in("/");
    constexpr Case cases[] = {
        {"\"/opt/my product/\"", "/opt/my product"},
        {"'/opt//x'", "/opt/x"},
        {"\"/opt/x", "/opt/x"},
        {"'/opt/x", "/opt/x"},
        {"'/opt/x\"", "/opt/x\""},  // only the matching quote closes
        {"/opt/x\"", "/opt/x\""},
        {"/a\"b\"/c", "/a\"b\"/c"},
        {"\"\"", ""},
        {"\"opt/x\"", "/opt/x"},
        {"", ""},
        {"|cmd a", "|cmd a"},
        {"!cmd", "!cmd"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(take_text(zk::simplify_and_expand_filename(c.input)), c.expected) << "input " << c.input;
    }
}

TEST(SimplifyAndExpandFilename, ExpandsVariablesAndTilde) {
    InDirectory in("/");
    zktest::EnvGuard home("HOME", expandtest::home);
    zktest::EnvGuard product("ZK_TEST_PRODUCT", "/opt/prod");
    zktest::EnvGuard unset("ZK_TEST_UNSET", std::nullopt);
    const std::string home_dir = expandtest::home;
    EXPECT_EQ(take_text(zk::simplify_and_expand_filename("$HOME/x")), home_dir + "/x");
    EXPECT_EQ(take_text(zk::simplify_and_expand_filename("\"$HOME/x/../y\"")), home_dir + "/y");
    EXPECT_EQ(take_text(zk::simplify_and_expand_filename("$ZK_TEST_PRODUCT//lib/")), "/opt/prod/lib");
    EXPECT_EQ(take_text(zk::simplify_and_expand_filename("~/x/")), home_dir + "/x");
    EXPECT_EQ(take_text(zk::simplify_and_expand_filename("/a/$ZK_TEST_UNSET")), "/a/$ZK_TEST_UNSET");
}

TEST(SimplifyAndExpandFilename, KeepsPatternsAsTyped) {
    zktest::TempDir temp;
    zktest::write_file(temp / "local", "");
    InDirectory in(temp.path());
    const std::string cwd = InDirectory::physical_cwd();
    EXPECT_EQ(take_text(zk::simplify_and_expand_filename("/usr/loc*")), "/usr/loc*");
    EXPECT_EQ(take_text(zk::simplify_and_expand_filename("loc*")), cwd + "/loc*");
    EXPECT_EQ(take_text(zk::simplify_and_expand_filename("lo?al//")), cwd + "/lo?al");
    EXPECT_EQ(take_text(zk::simplify_and_expand_filename("[l]ocal")), cwd + "/[l]ocal");
}

}  // namespace
