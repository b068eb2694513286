#include <zk/zk.h>

#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace {

struct MatchCase {
    const char* name;
    const char* patterns;
    int flags;
    int expected;
};

std::ostream& operator<<(std::ostream& out, const MatchCase& row) {
    return out << '"' << row.name << "\" against \"" << row.patterns << "\" flags 0x" << std::hex << row.flags;
}

constexpr int dot = zk::WILD_DOTFILES;
constexpr int nocase = zk::WILD_NOCASE;

constexpr MatchCase match_cases[] = {
    // Anchored at both ends.
    {"abc", "abc", 0, 1},
    {"abc", "ab", 0, 0},
    {"abc", "bc", 0, 0},
    // "?" takes exactly one character.
    {"ab", "a?", 0, 1},
    {"a", "a?", 0, 0},
    {"abc", "a?", 0, 0},
    // Star.
    {"a.c", "*.c", 0, 1},
    {"a.h", "*.c", 0, 0},
    {"abcbc", "a*bc", 0, 1},
    {"", "*", 0, 1},
    {"", "*a", 0, 0},
    {"a", "a*", 0, 1},
    {"a", "a**", 0, 0},
    // Leading-dot rule: a star that starts a piece, an alternative or the
    // rest after a star does not take a leading dot.
    {".profile", "*", 0, 0},
    {".profile", "*", dot, 1},
    {".profile", "?profile", 0, 1},
    {".profile", ".*", 0, 1},
    {".profile", "[.]profile", 0, 1},
    {"a.x", "a*", 0, 1},
    {".x", "{*}", 0, 0},
    {".x", "{*}", dot, 1},
    {".x", "x;{y,.*}", 0, 1},
    {"a.", "a**", 0, 0},
    {"..", "**", dot, 0},
    {".", "*", dot, 1},
    // Pattern lists.
    {"abc", "x*;a*", 0, 1},
    {"", "", 0, 0},
    {"a", "", 0, 0},
    {"", ";", 0, 1},
    {"a", ";", 0, 0},
    {"b", "a;;b", 0, 1},
    {"a", "a;", 0, 1},
    {"a]", "[;a]", 0, 1},
    {"a", "[;a]", 0, 0},
    {"b}", "{a;b}", 0, 1},
    // Case folding outside sets only, and only for characters below 128.
    {"ABC", "abc", 0, 0},
    {"ABC", "abc", nocase, 1},
    {"ABC", "a*C", nocase, 1},
    {"Abc", "[a]bc", nocase, 0},
    {"abc", "[A]bc", nocase, 0},
    {"\xc9", "\xe9", nocase, 0},
    // Sets and ranges.
    {"xb", "[^a]b", 0, 1},
    {"ab", "[^a]b", 0, 0},
    {"x", "[^a]", 0, 1},
    {"a", "[^a]", 0, 0},
    {"m", "[a-z]", 0, 1},
    {"5", "[0-9a-f]", 0, 1},
    {"a", "[]", 0, 0},
    {"x", "[^]", 0, 1},
    {"b", "[abc", 0, 1},
    {"a-", "[a-", 0, 0},
    // Ranges compare signed characters: high bytes order below NUL.
    {"\xe9", "[\x01-\x7f]", 0, 0},
    {"\xe9", "[\x80-\x01]", 0, 1},
    {"\xe9", "[^\x01-\x7f]", 0, 1},
    // Braces.
    {"a", "{a,{b,c}}", 0, 1},
    {"c", "{a,{b,c}}", 0, 1},
    {"d", "{a,{b,c}}", 0, 0},
    {"x.c", "*.{c,h}", 0, 1},
    {"x.ch", "*.{c,h}", 0, 0},
    {"", "{}", 0, 0},
    {"{", "{", 0, 0},
    {"a", "{a", 0, 1},
    {"x", "x{,y}", 0, 1},
    {"xy", "x{,y}", 0, 1},
    {"x", "x{y,}", 0, 0},
    // A brace list followed by more pattern: an alternative takes a prefix.
    {"a.c", "{a,b}.c", 0, 1},
    {"c.c", "{a,b}.c", 0, 0},
    {"x1y", "x{1,2}y", 0, 1},
    {"x3y", "x{1,2}y", 0, 0},
    {"abcd", "{ab,abc}d", 0, 1},
    {"abxyd", "{a*,q}d", 0, 1},
    // No escape character; other punctuation is literal.
    {"\\x", "\\*", 0, 1},
    {"*", "\\*", 0, 0},
    {"a]}b,^", "a]}b,^", 0, 1},
};

class WildMatch : public testing::TestWithParam<MatchCase> {};

TEST_P(WildMatch, GivesTheExpectedAnswer) {
    const MatchCase& row = GetParam();
    EXPECT_EQ(zk::wild_match(row.name, row.patterns, row.flags), row.expected);
}

INSTANTIATE_TEST_SUITE_P(Rules, WildMatch, testing::ValuesIn(match_cases));

// Each star tries every split and each brace list every alternative, so
// without remembering what failed these would run for hours; the last row is
// the fuzzer's finding.
TEST(WildMatchBacktracking, ManyStarsOrBraceListsStillGiveTheAnswer) {
    std::string stars;
    for (int i = 0; i < 20; ++i) stars += "*a";
    stars += "*b";
    std::string empty_lists;
    for (int i = 0; i < 40; ++i) empty_lists += "{,}";
    empty_lists += "x";
    const std::string as(60, 'a');
    const std::string high_name = "\xb0*ab" + std::string(19, '\x9f');

    EXPECT_EQ(zk::wild_match(as.c_str(), stars.c_str(), 0), 0);
    EXPECT_EQ(zk::wild_match((as + "b").c_str(), stars.c_str(), 0), 1);
    EXPECT_EQ(zk::wild_match("y", empty_lists.c_str(), 0), 0);
    EXPECT_EQ(zk::wild_match("x", empty_lists.c_str(), 0), 1);
    EXPECT_EQ(zk::wild_match(high_name.c_str(), "***{,******{,****b{c*b{c", 0x256c), 0);
}

TEST(WildMatchArguments, NullNameOrPatternMatchesNothing) {
    EXPECT_EQ(zk::wild_match(nullptr, "*", 0), 0);
    EXPECT_EQ(zk::wild_match("a", nullptr, 0), 0);
}

}  // namespace
