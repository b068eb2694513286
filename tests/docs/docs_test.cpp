// The docs cannot drift from the code: every example the library reference
// shows is a program under docs/examples/ that is built, run in an empty
// directory, and compared with the code and output printed in
// docs/libzk.md; each program's --help and man page name the same options;
// and the README's commands and layout are the tree's.
#include "support.h"

#include <dirent.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <set>
#include <sstream>
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
    const std::string title = "`examples/" + name + ".cpp`:";
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

// Long options, with one dash or two, in text.
std::set<std::string> long_options_in(const std::string& text) {
    static const std::regex option("(^|[^A-Za-z0-9-])(--?[a-z][a-z0-9-]*[a-z0-9])");
    std::set<std::string> found;
    for (std::sregex_iterator at(text.begin(), text.end(), option), end; at != end; ++at) found.insert((*at)[2]);
    return found;
}

// The options --help describes: the words that start its option lines, up
// to the first word of the description.
std::set<std::string> help_options(const std::string& help) {
    std::string column;
    std::istringstream lines(help);
    for (std::string line; std::getline(lines, line);) {
        if (line.compare(0, 3, "  -") != 0) continue;
        std::istringstream words(line);
        for (std::string word; words >> word;) {
            const bool lower_case = std::any_of(word.begin(), word.end(), [](char c) { return c >= 'a' && c <= 'z'; });
            if (word[0] != '-' && lower_case) break;
            column += " " + word;
        }
    }
    return long_options_in(column);
}

// The options a man page defines: its synopsis and its tagged paragraphs.
std::set<std::string> man_page_options(const std::string& source) {
    const std::string plain =
        std::regex_replace(std::regex_replace(source, std::regex(R"(\\f[BIRP])"), ""), std::regex(R"(\\-)"), "-");
    std::string defined;
    std::istringstream lines(plain);
    bool in_synopsis = false;
    bool tag_next = false;
    for (std::string line; std::getline(lines, line);) {
        if (line.compare(0, 4, ".SH ") == 0) in_synopsis = line == ".SH SYNOPSIS";
        if (in_synopsis || tag_next) defined += line + "\n";
        tag_next = line == ".TP" || line == ".TQ";
    }
    return long_options_in(defined);
}

struct ManualCase {
    std::string program;
    std::string man_page;  // below the source tree
};

TEST(Docs, EveryOptionInHelpIsInTheManPageAndTheOtherWayRound) {
    zktest::RunOptions bare;
    bare.env = {{"PATH", std::nullopt}};
    const ManualCase cases[] = {
        {zktest::zkpack_path(), "/tools/zkpack/zkpack.1"},
        {zktest::zkinstall_path(), "/installer/zkinstall.1"},
    };
    for (const auto& c : cases) {
        const zktest::RunResult help = zktest::run(c.program, {"--help"}, bare);
        ASSERT_EQ(help.status, 0) << c.program;
        const std::set<std::string> in_help = help_options(help.out);
        const std::set<std::string> in_man = man_page_options(zktest::read_file(zktest::source_dir() + c.man_page));
        EXPECT_GT(in_help.size(), 8u) << c.program;
        EXPECT_EQ(in_help, in_man) << c.man_page;
    }
}

// What the completion function offers for the words, the last one being completed.
std::string completions(const std::string& script, const std::string& function, const std::string& words) {
    const std::string command = "source " + script + "; COMP_WORDS=(" + words +
                                "); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); " + function +
                                "; printf '%s\\n' \"${COMPREPLY[@]}\"";
    const zktest::RunResult result = zktest::run("/bin/bash", {"-c", command});
    EXPECT_EQ(result.err, "") << words;
    return result.out;
}

TEST(Docs, CompletionOffersEveryLongOptionOfHelp) {
    const std::string zkpack_script = zktest::source_dir() + "/tools/zkpack/zkpack.bash";
    std::string offered = completions(zkpack_script, "_zkpack", "zkpack ''");
    EXPECT_EQ(offered, "create\nlist\nverify\ncat\nkeygen\nsign\n--help\n--version\n");
    for (const char* command : {"create", "list", "verify", "cat", "keygen", "sign"}) {
        offered += completions(zkpack_script, "_zkpack", std::string("zkpack ") + command + " -");
    }
    EXPECT_EQ(long_options_in(offered), help_options(zktest::run(zktest::zkpack_path(), {"--help"}).out));
    EXPECT_EQ(completions(zkpack_script, "_zkpack", "zkpack create --arch ''"), "x86_64\naarch64\ni686\n");

    zktest::RunOptions bare;
    bare.env = {{"PATH", std::nullopt}};
    const std::string installer_script = zktest::source_dir() + "/installer/zkinstall.bash";
    EXPECT_EQ(long_options_in(completions(installer_script, "_zkinstall", "setup -")),
              help_options(zktest::run(zktest::zkinstall_path(), {"--help"}, bare).out));
    EXPECT_EQ(completions(installer_script, "_zkinstall", "setup -- -"), "\n");
}

// The README opens with the two commands, which exist, CI runs the second,
// and its layout table names each top-level folder and nothing else.
TEST(Docs, ReadmeCommandsAndLayoutAreTheTrees) {
    const std::string source = zktest::source_dir();
    const std::string readme = zktest::read_file(source + "/README.md");
    const std::smatch commands = [&] {
        std::smatch match;
        std::regex_search(readme, match, std::regex("^# zkinstall\n\n```sh\n(\\S+) +#[^\n]*\n(\\S+) +#[^\n]*\n```"));
        return match;
    }();
    ASSERT_EQ(commands.size(), 3u) << "the README does not open with its two commands";
    for (const std::string& command : {commands[1].str(), commands[2].str()}) {
        EXPECT_EQ(::access((source + "/" + command).c_str(), X_OK), 0) << command;
    }
    EXPECT_NE(zktest::read_file(source + "/.ci/run").find("exec " + commands[2].str() + "\n"), std::string::npos);

    const std::string layout = readme.substr(readme.find("\n## Layout\n"));
    std::set<std::string> in_table;
    const std::regex row("\n\\| `([a-z/]+)/` \\|");
    for (std::sregex_iterator it(layout.begin(), layout.end(), row), end; it != end; ++it) {
        in_table.insert((*it)[1].str().substr(0, (*it)[1].str().find('/')));
    }
    std::set<std::string> folders;
    if (DIR* dir = ::opendir(source.c_str())) {
        while (const dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            if (entry->d_type == DT_DIR && name[0] != '.' && name.compare(0, 5, "build") != 0) folders.insert(name);
        }
        ::closedir(dir);
    }
    EXPECT_EQ(in_table, folders);
}

}  // namespace
