// The library reference cannot drift from the code: every example it shows
// is a program under docs/examples/ that is built, run in an empty directory,
// and compared with the code and output printed in docs/libzk.md.
#include "support.h"

#include <dirent.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

const std::string examples_source = zktest::source_dir() + "/docs/examples";

std::vector<std::string> example_names() {
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(examples_source.c_str())) {
        while (const dirent* entry = ::readdir(dir)) {
            const std::string file = entry->d_name;
            if (file.size() > 4 && file.compare(file.size() - 4, 4, ".cpp") == 0) {
                names.push_back(file.substr(0, file.size() - 4));
            }
        }
        ::closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// The text of the fenced block of `kind` that follows `from` in the reference.
std::string next_block(const std::string& reference, const std::string& kind, size_t from) {
    const std::string fence = "```" + kind + "\n";
    const size_t begin = reference.find(fence, from);
    if (begin == std::string::npos) return "<no " + kind + " block>";
    const size_t start = begin + fence.size();
    const size_t end = reference.find("```\n", start);
    return end == std::string::npos ? "<unclosed block>" : reference.substr(start, end - start);
}

class Example : public ::testing::TestWithParam<std::string> {};

TEST_P(Example, TheReferenceShowsItsCodeAndOutputExactly) {
    const std::string name = GetParam();
    const std::string source = zktest::read_file(examples_source + "/" + name + ".cpp");
    const std::string reference = zktest::read_file(zktest::source_dir() + "/docs/libzk.md");
    const std::string title = "`docs/examples/" + name + ".cpp`:";
    const size_t at = reference.find(title);
    ASSERT_NE(at, std::string::npos) << "docs/libzk.md does not show " << name << ".cpp";
    EXPECT_EQ(next_block(reference, "cpp", at), source) << "the code shown differs from " << name << ".cpp";

    zktest::TempDir empty;
    zktest::RunOptions options;
    options.cwd = empty.path();
    const zktest::RunResult result = zktest::run(std::string(ZK_EXAMPLE_DIR) + "/" + name, {}, options);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(next_block(reference, "text", at), result.out) << "the output shown differs from " << name << "'s";
}

INSTANTIATE_TEST_SUITE_P(Docs, Example, ::testing::ValuesIn(example_names()),
                         [](const ::testing::TestParamInfo<std::string>& info) { return info.param; });

TEST(Docs, AllCodeInTheReferenceIsAnExample) {
    const std::string reference = zktest::read_file(zktest::source_dir() + "/docs/libzk.md");
    size_t blocks = 0;
    for (size_t at = reference.find("```cpp\n"); at != std::string::npos; at = reference.find("```cpp\n", at + 1)) {
        ++blocks;
    }
    EXPECT_EQ(blocks, example_names().size());
}

}  // namespace
