#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "command_line.h"
#include "installer_state.h"

namespace {

std::vector<char*> argv_of(std::vector<std::string>& storage) {
    std::vector<char*> argv;
    for (auto& arg : storage) argv.push_back(arg.data());
    argv.push_back(nullptr);
    return argv;
}

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
    std::vector<char*> argv = argv_of(storage);

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

INSTANTIATE_TEST_SUITE_P(Cases, ParseArgs,
                         ::testing::Values(ArgsCase{{}, 1, 0, 0, nullptr}, ArgsCase{{"-d"}, 2, 1, 0, nullptr},
                                           ArgsCase{{"-gz"}, 2, 0, 1, nullptr},
                                           ArgsCase{{"-gz", "-d", "word", "-x"}, 3, 1, 1, nullptr},
                                           ArgsCase{{"word", "-d"}, 1, 0, 0, nullptr},
                                           ArgsCase{{"-program"}, 2, 0, 0, nullptr},
                                           ArgsCase{{"-program", "-d"}, 3, 0, 0, "-d"},
                                           ArgsCase{{"-program", "name", "-gz", "rest"}, 4, 0, 1, "name"},
                                           // Only whole words count; the rest are ignored silently.
                                           ArgsCase{{"-", "-dd", "-g", "-gzip", "-D"}, 6, 0, 0, nullptr},
                                           // -- ends the switches as a first word does.
                                           ArgsCase{{"-d", "--", "-gz", "--target"}, 3, 1, 0, nullptr},
                                           // Long options may follow the first word, which still ends the switches.
                                           ArgsCase{{"-gz", "word", "--quiet", "-d"}, 2, 0, 1, nullptr}));

struct LongCase {
    std::vector<std::string> args;  // after argv[0]
    RunMode mode;
    std::string refusal;  // the first line on standard error, empty when accepted
};

void PrintTo(const LongCase& c, std::ostream* os) {
    for (const auto& arg : c.args) *os << arg << ' ';
}

class LongOptions : public ::testing::TestWithParam<LongCase> {};

TEST_P(LongOptions, ChooseTheRunOrAreRefusedWithTheUsage) {
    const LongCase& c = GetParam();
    installer_state = InstallerState{};
    std::vector<std::string> storage{"pkg"};
    storage.insert(storage.end(), c.args.begin(), c.args.end());
    std::vector<char*> argv = argv_of(storage);

    ::testing::internal::CaptureStderr();
    parse_args(static_cast<int>(storage.size()), argv.data());
    const std::string err = ::testing::internal::GetCapturedStderr();
    if (c.refusal.empty()) {
        EXPECT_EQ(err, "");
        EXPECT_EQ(installer_state.run_mode, c.mode);
    } else {
        EXPECT_EQ(installer_state.run_mode, RunMode::usage_error);
        EXPECT_EQ(err.substr(0, err.find('\n') + 1), c.refusal + "\n");
        EXPECT_EQ(err.substr(err.find('\n') + 1, 16), "Usage: pkg [--ta");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LongOptions,
    ::testing::Values(
        LongCase{{}, RunMode::install, ""},
        LongCase{{"--target", "dir", "--yes", "--quiet", "-d"}, RunMode::install, ""},
        LongCase{{"--target=dir", "-gz"}, RunMode::usage_error, "Options -gz and --target cannot be combined"},
        LongCase{{"-gz", "--yes", "--quiet"}, RunMode::stream, ""},
        LongCase{{"--check", "--quiet"}, RunMode::check, ""}, LongCase{{"--list", "--list"}, RunMode::list, ""},
        LongCase{{"--extract", "d", "--yes"}, RunMode::extract, ""}, LongCase{{"word", "--help"}, RunMode::help, ""},
        LongCase{{"--list", "--help", "-d", "--check", "--version"}, RunMode::help, ""},
        LongCase{{"-program", "--bogus", "--version"}, RunMode::version, ""},
        LongCase{{"--d"}, RunMode::usage_error, "Unknown option: --d"},
        LongCase{{"word", "--helpme"}, RunMode::usage_error, "Unknown option: --helpme"},
        LongCase{{"--list", "--target", "x"}, RunMode::usage_error, "Options --list and --target cannot be combined"},
        LongCase{{"--yes", "--check"}, RunMode::usage_error, "Options --check and --yes cannot be combined"},
        LongCase{{"--extract", "d", "-d"}, RunMode::usage_error, "Options --extract and -d cannot be combined"},
        LongCase{{"--check", "--list"}, RunMode::usage_error, "Options --check and --list cannot be combined"},
        LongCase{{"--target"}, RunMode::usage_error, "Option --target needs a value"},
        LongCase{{"--extract="}, RunMode::usage_error, "Option --extract needs a value"},
        LongCase{{"--yes=no"}, RunMode::usage_error, "Option --yes takes no value"},
        LongCase{{"-h"}, RunMode::help, ""}, LongCase{{"word", "-help"}, RunMode::help, ""},
        LongCase{{"--target", "d", "-?"}, RunMode::help, ""},
        LongCase{
            {"-target", "/opt/x", "-quiet"}, RunMode::usage_error, "Unknown option: -target (did you mean --target?)"},
        LongCase{{"word", "-yes"}, RunMode::usage_error, "Unknown option: -yes (did you mean --yes?)"},
        LongCase{{"-extract=d"}, RunMode::usage_error, "Unknown option: -extract (did you mean --extract?)"},
        LongCase{{"-version"}, RunMode::usage_error, "Unknown option: -version (did you mean --version?)"},
        LongCase{{"--", "-target", "--bogus"}, RunMode::install, ""},
        // Abbreviations, as GNU tools take them: any prefix of one option alone.
        LongCase{{"--targ=dir", "--y", "--qu"}, RunMode::install, ""}, LongCase{{"--ver"}, RunMode::version, ""},
        LongCase{{"--ex", "d", "--acc"}, RunMode::extract, ""},
        LongCase{{"--t"}, RunMode::usage_error, "Option --target needs a value"},
        LongCase{{"--qu=1"}, RunMode::usage_error, "Option --quiet takes no value"},
        LongCase{{"--lists"}, RunMode::usage_error, "Unknown option: --lists"}));

TEST(LongOptions, KeepTheirValues) {
    installer_state = InstallerState{};
    std::vector<std::string> storage{"pkg", "--target", "-d", "--quiet", "--yes"};
    std::vector<char*> argv = argv_of(storage);
    parse_args(static_cast<int>(storage.size()), argv.data());
    EXPECT_STREQ(installer_state.target_dir, "-d") << "a value may begin with a dash";
    EXPECT_EQ(installer_state.debug_shell, 0);
    EXPECT_EQ(installer_state.quiet, 1);
    EXPECT_EQ(installer_state.assume_yes, 1);

    installer_state = InstallerState{};
    storage = {"pkg", "--extract=out/dir", "--sig", "s", "--pub=k"};
    argv = argv_of(storage);
    parse_args(static_cast<int>(storage.size()), argv.data());
    EXPECT_STREQ(installer_state.extract_dir, "out/dir");
    EXPECT_STREQ(installer_state.signature_path, "s");
    EXPECT_STREQ(installer_state.public_key, "k");
}

}  // namespace
