#include <zk/zk.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace {

int sign(int value) { return (value > 0) - (value < 0); }

struct CompareCase {
    const char* a;
    const char* b;
    int expected;
};

TEST(StrDictCmp, LettersThenDigitsThenTheRest) {
    const std::vector<CompareCase> cases = {
        {"apple", "1abc", -1}, {"1abc", "_x", -1}, {"_x", "1abc", 1}, {"1abc", "apple", 1},
        {"Apple", "apple", 0}, {"", "a", 1},       {"", "9", 1},      {"zeta", "Alpha", 1},
        {"abc", "ABD", -1},    {"10", "9", -1},    {"\xe9", "a", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.a) + " <> " + c.b);
        EXPECT_EQ(sign(zk::strdictcmp(c.a, c.b)), c.expected);
    }
}

TEST(StrNDictCmp, ClassesEveryCharacter) {
    struct Case {
        const char* a;
        const char* b;
        int n;
        int expected;
    };
    const std::vector<Case> cases = {
        {"abc", "ABD", 2, 0},
        {"abc", "ABD", 3, 'C' - 'D'},
        {"a", "_", 5, -1},
        {"_", "a", 5, 1},
        {"[", "A", 5, 1},
        {"ab", "a", 5, 1},
        {"a", "ab", 5, -1},
        {"abc", "abc", 10, 0},
        {"x", "y", 0, 0},
        {"x", "y", -4, 0},
        {"1", "_", 5, '1' - '_'},
        {"a1", "a_", 5, '1' - '_'},
        {"\xe9", "\x01", 5, -23 - 1},
        {"\xe9", "b", 5, 1},
        {"Zebra", "apple", 5, 'Z' - 'A'},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.a) + " <> " + c.b + " n=" + std::to_string(c.n));
        EXPECT_EQ(zk::strndictcmp(c.a, c.b, c.n), c.expected);
    }
}

TEST(LowerCase, OnlyAsciiCapitals) {
    char text[] = "AbC-Z@[`{\x80\xc9\xff";
    zk::lower_case(text);
    EXPECT_STREQ(text, "abc-z@[`{\x80\xc9\xff");
}

TEST(OverlapStrcpy, MovesInBothDirections) {
    char buffer[16] = "abcdef";
    EXPECT_EQ(zk::overlap_strcpy(buffer, buffer + 2), buffer);
    EXPECT_STREQ(buffer, "cdef");
    EXPECT_EQ(zk::overlap_strcpy(buffer + 3, buffer), buffer + 3);
    EXPECT_STREQ(buffer, "cdecdef");
}

TEST(StringUnquote, EachEndIndependently) {
    const std::vector<std::pair<const char*, const char*>> cases = {
        {"\"abc\"", "abc"}, {"abc\"", "abc"}, {"\"abc", "abc"}, {"abc", "abc"},         {"", ""},
        {"\"", ""},         {"\"\"", ""},     {"a\"b", "a\"b"}, {"\"\"x\"\"", "\"x\""},
    };
    for (const auto& [input, expected] : cases) {
        SCOPED_TRACE(input);
        char* result = zk::string_unquote(input);
        EXPECT_STREQ(result, expected);
        zk::chk_free(result);
    }
}

using Words = std::vector<std::pair<std::string, int>>;

struct SplitCase {
    const char* text;
    int mode;
    Words expected;
};

TEST(StringQwordSplit, EveryMode) {
    const std::vector<SplitCase> cases = {
        {"one \"two three\" four", 2, {{"one", 0}, {"\"two three\"", 4}, {"four", 0}}},
        {"one \"two three\" four", 0, {{"one", 0}, {"\"two three\"", 4}, {"four", 0}}},
        {"a b;c", 2, {{"a", 0}, {"b", 0}, {"c", 0}}},
        {"a b;c", 0, {{"a", 0}, {"b;c", 0}}},
        {"my file \"x y\"", 3, {{"my file", 0}, {"\"x y\"", 4}}},
        {"my file \"x y\"", 1, {{"my file", 0}, {"\"x y\"", 4}}},
        {"a b c", 1, {{"a b c", 0}}},
        {"a b;c d", 3, {{"a b", 0}, {"c d", 0}}},
        {"a\tb", 0, {{"a", 0}, {"b", 0}}},
        {"a\tb", 1, {{"a\tb", 0}}},
        {"\t\"q r\"", 0, {{"\"q r\"", 4}}},
        {"  a", 0, {{"a", 0}}},
        {"a ", 0, {{"a", 0}}},
        {"a  ", 0, {{"a", 0}, {"", 0}}},
        {"a\t\n", 0, {{"a", 0}, {"", 0}}},
        {"   ", 0, {{"", 0}}},
        {"   ", 1, {{"", 0}}},
        {";;", 2, {{"", 0}}},
        {";;", 0, {{";;", 0}}},
        {";a;;b;", 2, {{"a", 0}, {"b", 0}}},
        {"a;;", 2, {{"a", 0}, {"", 0}}},
        {"", 0, {}},
        {"", 3, {}},
        {"\"x y\";z", 2, {{"\"x y;z\"", 4}}},
        {"\"x y\"\tz", 0, {{"\"x y\tz\"", 4}}},
        {"\"abc\"", 0, {{"abc", 4}}},
        {"\"a b", 0, {{"\"a b\"", 4}}},
        {"\"\"", 0, {{"", 4}}},
        {"x\"y z\"", 0, {{"x\"y", 0}, {"z\"", 0}}},
        {"one  \"two\"", 0, {{"one", 0}, {"two", 4}}},
        {"\"a\" \"b c\" d", 2, {{"a", 4}, {"\"b c\"", 4}, {"d", 0}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string("[") + c.text + "] mode " + std::to_string(c.mode));
        const std::string before = c.text;
        int count = -1;
        zk::QWORD* words = zk::string_qword_split(c.text, &count, c.mode);
        ASSERT_NE(words, nullptr);
        EXPECT_EQ(before, c.text) << "the input is not changed";
        ASSERT_EQ(count, static_cast<int>(c.expected.size()));
        Words got;
        for (int i = 0; i < count; ++i) {
            got.emplace_back(words[i].text, words[i].flags);
        }
        EXPECT_EQ(got, c.expected);
        EXPECT_EQ(words[count].text, nullptr) << "a zeroed record ends the array";
        EXPECT_EQ(words[count].flags, 0);
        for (int i = 0; i < count; ++i) {
            zk::chk_free(words[i].text);
        }
        zk::chk_free(words);
    }
}

TEST(StringQwordSplit, ManyWordsOutgrowTheFirstBlock) {
    std::string text;
    for (int i = 0; i < 40; ++i) text += "w" + std::to_string(i) + (i % 2 ? " " : " \"q r\" ");
    int count = 0;
    zk::QWORD* words = zk::string_qword_split(text.c_str(), &count, 0);
    ASSERT_EQ(count, 60);
    EXPECT_STREQ(words[57].text, "w38");
    EXPECT_STREQ(words[58].text, "\"q r\"");
    EXPECT_STREQ(words[59].text, "w39");
    EXPECT_EQ(words[60].text, nullptr);
    for (int i = 0; i < count; ++i) zk::chk_free(words[i].text);
    zk::chk_free(words);
}

TEST(StringWordize, SplitsOutsideQuotesAndEscapes) {
    const std::vector<std::pair<const char*, std::vector<std::string>>> cases = {
        {"a 'b c' d\\ e", {"a", "'b c'", "d\\ e"}},
        {"", {""}},
        {"  a", {"", "a"}},
        {"a  ", {"a", ""}},
        {"a\t\nb", {"a", "b"}},
        {"\"x y\" z", {"\"x y\"", "z"}},
        {"'it\"s' x", {"'it\"s'", "x"}},
        {"\"it's\" x", {"\"it's\"", "x"}},
        {"a\\", {"a\\"}},
        {"a\\ b\\", {"a\\ b\\"}},
        {"\"a\\\" b\" c", {"\"a\\\" b\"", "c"}},
        {"\"open x", {"\"open x"}},
    };
    for (const auto& [text, expected] : cases) {
        SCOPED_TRACE(text);
        char** words = zk::string_wordize(text);
        ASSERT_NE(words, nullptr);
        std::vector<std::string> got;
        for (char** word = words; *word != nullptr; ++word) got.emplace_back(*word);
        EXPECT_EQ(got, expected);
        zk::chk_free(words[0]);
        zk::chk_free(words);
    }
}

TEST(StringWordize, WordsPointIntoOneCopy) {
    std::string text;
    std::vector<long> offsets;
    for (int i = 0; i < 45; ++i) {
        text += " ";
        offsets.push_back(static_cast<long>(text.size()));
        text += "w" + std::to_string(i);
    }
    char** words = zk::string_wordize(text.c_str());
    ASSERT_NE(words, nullptr);
    EXPECT_NE(words[0], text.c_str());
    EXPECT_STREQ(words[0], "");
    for (int i = 0; i < 45; ++i) {
        EXPECT_EQ(words[i + 1], "w" + std::to_string(i));
        EXPECT_EQ(words[i + 1] - words[0], offsets[i]);
    }
    EXPECT_EQ(words[46], nullptr);
    zk::chk_free(words[0]);
    zk::chk_free(words);
}

}  // namespace
