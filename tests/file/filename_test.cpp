// Name utilities: components, extensions, joining and quote normalisation.
#include <zk/zk.h>
#include "file/file_internal.h"

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "take.h"

using zktest::take;

namespace {

// Offset of a pointer into `text`, or -1 for null: keeps "points into the
// argument" visible in the expectations.
long offset_in(const char* text, const char* pointer) { return pointer == nullptr ? -1 : pointer - text; }

struct ComponentCase {
    const char* name;
    int n;
    long nth_first;
    long nth_last;
};

TEST(FilenameComponents, NthDelimiterFromEitherEnd) {
    const ComponentCase cases[] = {
        {"/a/b", 2, 2, 0},  {"/a/b", 1, 0, 2}, {"/a/b", 0, 0, 2},   {"/a/b", -3, 0, 2}, {"/a/b", 3, -1, -1},
        {"a/b", 2, -1, -1}, {"ab", 1, -1, -1}, {"/a/b/c", 3, 4, 0}, {"a//b", 2, 2, 1},  {"", 1, -1, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " n=" + std::to_string(c.n));
        EXPECT_EQ(offset_in(c.name, zk::filename_nth_first_component(c.name, c.n)), c.nth_first);
        EXPECT_EQ(offset_in(c.name, zk::filename_nth_last_component(c.name, c.n)), c.nth_last);
    }
    const char* name = "a/b/c";
    EXPECT_EQ(offset_in(name, zk::filename_first_component(name)), 1);
    EXPECT_EQ(offset_in(name, zk::filename_last_component(name)), 3);
    EXPECT_EQ(zk::filename_first_component("abc"), nullptr);
    EXPECT_EQ(zk::filename_last_component("abc"), nullptr);
}

struct NamePartsCase {
    const char* name;
    long basename;
    std::optional<std::string> extension;
    std::optional<std::string> file_extension;
    const char* dirname;
};

TEST(FilenameParts, BasenameExtensionsAndDirname) {
    const NamePartsCase cases[] = {
        {"/x", 0, std::nullopt, std::nullopt, "/"},
        {"x", 0, std::nullopt, std::nullopt, "."},
        {"a/", 2, std::nullopt, std::nullopt, "a"},
        {"/", 0, std::nullopt, std::nullopt, "/"},
        {"a.b.c", 0, "c", ".c", "."},
        {"a.b/c", 4, std::nullopt, std::nullopt, "a.b"},
        {".profile", 0, "profile", ".profile", "."},
        {"dir/a.", 4, "", ".", "dir"},
        {"/x.y", 0, "y", ".y", "/"},
        {"a//b.tar.gz", 3, "gz", ".gz", "a/"},
        {"/usr/lib/x", 9, std::nullopt, std::nullopt, "/usr/lib"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(offset_in(c.name, zk::basename(c.name)), c.basename);
        EXPECT_EQ(zk::filename_basename(c.name), zk::basename(c.name));
        const char* extension = zk::filename_extension(c.name);
        EXPECT_EQ(extension ? std::optional<std::string>(extension) : std::nullopt, c.extension);
        const char* file_extension = zk::file_extension(c.name);
        EXPECT_EQ(file_extension ? std::optional<std::string>(file_extension) : std::nullopt, c.file_extension);
        EXPECT_EQ(take(zk::dirname(c.name)), c.dirname);
    }
    EXPECT_EQ(zk::filename_extension(""), nullptr);
}

TEST(FilenameDirname2, RemovesComponentsWithoutUsingTheRoot) {
    struct Case {
        const char* name;
        int n;
        const char* expected;
    };
    const Case cases[] = {
        {"/a/b/c", 1, "/a/b"}, {"/a/b/c", 2, "/a"}, {"/a/b/c", 3, "."}, {"/a/b/c", 9, "."},
        {"a//b", 1, "a/"},     {"a//b", 2, "a"},    {"a/b/", 1, "a/b"}, {"abc", 1, "."},
        {"abc", 0, "ab"},      {"abc", -2, "ab"},   {"/x", 1, "."},     {"a/b/c", 2, "a"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " n=" + std::to_string(c.n));
        EXPECT_EQ(take(zk::filename_dirname2(c.name, c.n)), c.expected);
    }
}

TEST(FilenameNormalizeQuotes, DropsQuotesAndEnclosesBlankNames) {
    struct Case {
        const char* text;
        const char* expected;
    };
    const Case cases[] = {
        {"a \"b c\"", "\"a b c\""},
        {"\"abc\"", "abc"},
        {"a b", "a b"},
        {"", ""},
        {"\"\"", ""},
        {"a \"", "\"a \""},
        {"a\tb\"", "a\tb"},
        {"x\"\"\"y z", "\"xy z\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(take(zk::string_normalize_quotes(c.text)), c.expected);
    }
}

TEST(FilenameAppend, JoinsWithOneDelimiter) {
    struct Case {
        const char* dir;
        const char* name;
        const char* expected;
    };
    const Case cases[] = {
        {"", "x", "x"},
        {"a", "", "a"},
        {"a/", "b", "a/b"},
        {"a\\", "b", "a\\b"},
        {"a", "/b", "/b"},
        {"a", "b", "a/b"},
        {"/", "etc", "/etc"},
        {"my dir", "\"x y\"", "\"my dir/x y\""},
        {"a", "\"b\"", "a/b"},
        // Only a real join normalises quotes.
        {"", "\"x y\"", "\"x y\""},
        {"a \"b\"", "", "a \"b\""},
        {"a", "/\"b c\"", "/\"b c\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.dir) + " + " + c.name);
        EXPECT_EQ(take(zk::filename_append_filename(c.dir, c.name)), c.expected);
    }
}

TEST(FilenameAppend, InsertsTheExportedDelimiterText) {
    const char* saved = zk::wild_filename_delimiter;
    zk::wild_filename_delimiter = "|";
    EXPECT_STREQ(zk::filename_delimiter(), "|");
    EXPECT_EQ(take(zk::filename_append_filename("a", "b")), "a|b");
    zk::wild_filename_delimiter = saved;
    EXPECT_STREQ(zk::filename_delimiter(), "/");
}

TEST(FilenamePlatformHooks, IdentityAndConstantAnswers) {
    char name[] = "C:\\x/y";
    EXPECT_EQ(zk::filename_normalize(name), name);
    EXPECT_EQ(zk::backslash_to_fwd(name), name);
    EXPECT_EQ(zk::forwardslash_to_back(name), name);
    zk::monocase_filename(name);
    EXPECT_STREQ(name, "C:\\x/y");
    EXPECT_EQ(zk::filename_skip_drive(name), name);
    const char* unc = "//host/share";
    EXPECT_EQ(zk::filename_skip_unc(unc), unc);
    EXPECT_EQ(zk::is_unc_filename(unc), 0);
    EXPECT_EQ(zk::filename_get_drive(name), 0);

    char* copy = zk::filename_long_to_short(name);
    EXPECT_NE(copy, name);
    EXPECT_EQ(take(copy), name);
    EXPECT_EQ(take(zk::filename_short_to_long(name)), name);

    EXPECT_STREQ(zk::filename_path_delimiter(), ":");
    EXPECT_EQ(zk::filename_is_delim('/'), 1);
    EXPECT_EQ(zk::filename_is_delim('\\'), 0);
    EXPECT_EQ(zk::is_absolute("/a"), 1);
    EXPECT_EQ(zk::is_absolute("a/"), 0);
    EXPECT_EQ(zk::is_absolute(""), 0);
    EXPECT_LT(zk::filename_strcmp("A", "a"), 0);
    EXPECT_EQ(zk::filename_strcmp("a/b", "a/b"), 0);
}

TEST(FilenamePlatformHooks, MonocaseFlagKeepsLastNonNegativeValue) {
    const int initial = zk::filename_monocase_enable(-1);
    EXPECT_EQ(zk::filename_monocase_enable(1), 1);
    EXPECT_EQ(zk::filename_monocase_enable(-1), 1);
    EXPECT_EQ(zk::filename_monocase_enable(0), 0);
    zk::filename_monocase_enable(initial);
}

std::vector<std::string> split_path_list(const char* list) {
    std::vector<char> text(list, list + std::strlen(list) + 1);
    std::vector<std::string> entries;
    for (char* entry = zk::next_path_entry(text.data(), ':'); entry != nullptr;
         entry = zk::next_path_entry(nullptr, ':')) {
        entries.emplace_back(entry);
    }
    return entries;
}

TEST(NextPathEntry, KeepsEmptyEntries) {
    using Entries = std::vector<std::string>;
    struct Case {
        const char* list;
        Entries expected;
    };
    const Case cases[] = {
        {"", {""}},        {"a", {"a"}},      {"a::b", {"a", "", "b"}},
        {"a:", {"a", ""}}, {":a", {"", "a"}}, {"/bin:/usr/bin", {"/bin", "/usr/bin"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.list);
        EXPECT_EQ(split_path_list(c.list), c.expected);
    }
    EXPECT_EQ(zk::next_path_entry(nullptr, ':'), nullptr);
}

}  // namespace
