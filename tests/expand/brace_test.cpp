#include "helpers.h"

#include <zk/zk.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

using expandtest::take_brace;
using Names = std::vector<std::string>;

namespace {

zk::BRACE* make_brace(const Names& texts) {
    auto* list = static_cast<zk::BRACE*>(zk::chk_zalloc(sizeof(zk::BRACE)));
    if (texts.empty()) return list;
    list->items = static_cast<char**>(zk::chk_alloc(sizeof(char*) * texts.size()));
    for (const std::string& text : texts) list->items[list->count++] = zk::chk_strdup(text.c_str());
    list->capacity = list->count;
    return list;
}

TEST(BraceExpand, Table) {
    const std::pair<const char*, Names> cases[] = {
        {"a{b,c}d", {"abd", "acd"}},
        {"{a,b}{c,d}", {"ac", "ad", "bc", "bd"}},
        {"{a,b}{1,2}{x,y}", {"a1x", "a1y", "a2x", "a2y", "b1x", "b1y", "b2x", "b2y"}},
        {"x{,y}", {"x", "xy"}},
        {"x{a,,b}", {"xa", "x", "xb"}},
        {"x{a,}", {"xa", "x"}},
        {"{a}", {"a"}},
        {"x{a{1,2},b}y", {"xa1y", "xa2y", "xby"}},
        {"{a,b{c,d{e,f}}}", {"a", "bc", "bde", "bdf"}},
        {"plain", {"plain"}},
        {"", {""}},
        // Groups that are not groups stay as typed.
        {"a{}b", {"a{}b"}},
        {"a{", {"a{"}},
        {"{a,b", {"{a,b"}},
        {"{a{b,c}", {"{a{b,c}"}},    // the first group never closes
        {"x{y{a,b}", {"x{y{a,b}"}},  // ... even when a later one would
        {"{}{a,b}", {"{}a", "{}b"}},
        {"a}b{c,d}", {"a}bc", "a}bd"}},
        {"{a,b}}", {"a}", "b}"}},
        {"{a,b}{c", {"a{c", "b{c"}},
        {"{a,{},b}", {"a", "{}", "b"}},
    };
    for (const auto& [text, expected] : cases) EXPECT_EQ(take_brace(zk::brace_expand(text)), expected) << text;
}

TEST(DoBraceExpand2, NoUsableGroupGivesAnEmptyListAndLeavesTheText) {
    for (const char* text : {"abc", "a{}b", "{a,b", "x{"}) {
        std::string buffer = text;
        zk::BRACE* list = zk::do_brace_expand2(buffer.data());
        EXPECT_EQ(list->count, 0) << text;
        take_brace(list);
        EXPECT_STREQ(buffer.c_str(), text);
    }
}

TEST(DoBraceExpand2, ExpandsOnlyTheFirstGroupAndTheRest) {
    std::string buffer = "p{a{1,2},b}q{x,y}";
    EXPECT_EQ(take_brace(zk::do_brace_expand2(buffer.data())), (Names{"pa{1,2}qx", "pa{1,2}qy", "pbqx", "pbqy"}));
    EXPECT_EQ(buffer, "p{a{1,2},b}q{x,y}");
}

TEST(DoBraceEnum, CutsAtTopLevelCommas) {
    EXPECT_EQ(take_brace(zk::do_brace_enum("a,,b", 3)), (Names{"a", "", "b"}));
    EXPECT_EQ(take_brace(zk::do_brace_enum(",x", 2)), (Names{"", "x"}));
    EXPECT_EQ(take_brace(zk::do_brace_enum("a,", 2)), (Names{"a", ""}));
    EXPECT_EQ(take_brace(zk::do_brace_enum("a,{b,c},d", 3)), (Names{"a", "{b,c}", "d"}));
    EXPECT_EQ(take_brace(zk::do_brace_enum("a,b,c", 2)), (Names{"a", "b,c"}));
    EXPECT_EQ(take_brace(zk::do_brace_enum("a", 3)), (Names{"a", "", ""}));
}

TEST(BraceInsert, ReplacesTheTextAtTheIndex) {
    const std::pair<int, Names> cases[] = {
        {0, {"x", "y", "b", "c"}},
        {1, {"a", "x", "y", "c"}},
        {2, {"a", "b", "x", "y"}},
        {3, {"a", "b", "c", "x", "y"}},
    };
    for (const auto& [index, expected] : cases) {
        zk::BRACE* list = make_brace({"a", "b", "c"});
        zk::brace_insert(list, make_brace({"x", "y"}), index);
        EXPECT_EQ(list->capacity, list->count) << "index " << index;
        EXPECT_EQ(take_brace(list), expected) << "index " << index;
    }
}

TEST(BraceInsert, EmptyListsAndOutOfRangeIndexes) {
    zk::BRACE* list = make_brace({"a"});
    zk::brace_insert(list, make_brace({}), 0);
    EXPECT_EQ(take_brace(list), (Names{"a"}));

    list = make_brace({});
    zk::brace_insert(list, make_brace({"x", "y"}), 0);
    EXPECT_EQ(take_brace(list), (Names{"x", "y"}));

    list = make_brace({"a"});
    zk::brace_insert(list, make_brace({"x"}), 7);
    EXPECT_EQ(take_brace(list), (Names{"a", "x"}));
}

TEST(BraceAppend, AddsAtTheEnd) {
    zk::BRACE* list = make_brace({"a", "b"});
    zk::brace_append(list, make_brace({"c"}));
    zk::brace_append(list, make_brace({"d", "e"}));
    EXPECT_EQ(take_brace(list), (Names{"a", "b", "c", "d", "e"}));
}

struct Expanded {
    std::string text;
    int literal;
    bool operator==(const Expanded& other) const { return text == other.text && literal == other.literal; }
};

std::ostream& operator<<(std::ostream& out, const Expanded& word) {
    return out << "{" << word.text << ", " << word.literal << "}";
}

std::vector<Expanded> expand_string(const char* text, int mode) {
    int count = -1;
    zk::EXPANDED_WORD* words = zk::brace_expand_string(text, &count, mode);
    std::vector<Expanded> result;
    for (int i = 0; i < count; ++i) {
        result.push_back({words[i].text, words[i].literal});
        zk::chk_free(words[i].text);
    }
    EXPECT_EQ(words[count].text, nullptr);
    EXPECT_EQ(words[count].literal, 0);
    zk::chk_free(words);
    return result;
}

TEST(BraceExpandString, SplitsQuotesAndExpands) {
    EXPECT_EQ(expand_string("{,a}", 2), (std::vector<Expanded>{{"a", 0}}));
    EXPECT_EQ(expand_string("x{1,2} \"q w\" \"{a,b}\" *.c", 2),
              (std::vector<Expanded>{{"x1", 0}, {"x2", 0}, {"q w", 1}, {"{a,b}", 1}, {"*.c", 0}}));
    EXPECT_EQ(expand_string("a;b{c,d}", 2), (std::vector<Expanded>{{"a", 0}, {"bc", 0}, {"bd", 0}}));
    EXPECT_EQ(expand_string("\"open", 2), (std::vector<Expanded>{{"open", 1}}));
    EXPECT_EQ(expand_string("\"open ended", 2), (std::vector<Expanded>{{"open ended", 1}}));
    EXPECT_EQ(expand_string("", 2), (std::vector<Expanded>{}));
}

TEST(BraceExpandString, KeepingBlanks) {
    EXPECT_EQ(expand_string("my {a,b} file", 3), (std::vector<Expanded>{{"my a file", 0}, {"my b file", 0}}));
    EXPECT_EQ(expand_string("my file \"x y\"", 3), (std::vector<Expanded>{{"my file", 0}, {"x y", 1}}));
}

}  // namespace
