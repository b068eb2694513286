#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "command_line.h"
#include "installer_state.h"

namespace {

struct ArgsCase {
    std::vector<std::string> args;  // after argv[0]
    int first_non_switch;
    int debug_shell;
    int stream_only;
    const char* program;  // null: none given
};

class ParseArgs : public ::testing::TestWithParam<ArgsCase> {};

TEST_P(ParseArgs, SetsStateAndStopsAtFirstWord) {
    const ArgsCase& c = GetParam();
    installer_state = InstallerState{};
    std::vector<std::string> storage{"pkg"};
    storage.insert(storage.end(), c.args.begin(), c.args.end());
    std::vector<char*> argv;
    for (auto& arg : storage) argv.push_back(arg.data());
    argv.push_back(nullptr);

    EXPECT_EQ(parse_args(static_cast<int>(storage.size()), argv.data()), c.first_non_switch);
    EXPECT_EQ(installer_state.debug_shell, c.debug_shell);
    EXPECT_EQ(installer_state.stream_only, c.stream_only);
    if (c.program == nullptr) {
        EXPECT_EQ(installer_state.package_path, nullptr);
    } else {
        ASSERT_NE(installer_state.package_path, nullptr);
        EXPECT_STREQ(installer_state.package_path, c.program);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ParseArgs,
    ::testing::Values(
        ArgsCase{{}, 1, 0, 0, nullptr},
        ArgsCase{{"-d"}, 2, 1, 0, nullptr},
        ArgsCase{{"-gz"}, 2, 0, 1, nullptr},
        ArgsCase{{"-gz", "-d", "word", "-x"}, 3, 1, 1, nullptr},
        ArgsCase{{"word", "-d"}, 1, 0, 0, nullptr},
        ArgsCase{{"-program"}, 2, 0, 0, nullptr},
        ArgsCase{{"-program", "-d"}, 3, 0, 0, "-d"},
        ArgsCase{{"-program", "name", "-gz", "rest"}, 4, 0, 1, "name"},
        // Only whole words count; the rest are ignored silently.
        ArgsCase{{"--d", "-", "-dd", "-g", "-gzip", "-D"}, 7, 0, 0, nullptr}));

}  // namespace
