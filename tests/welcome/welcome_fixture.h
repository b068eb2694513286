// Packages with a welcome text record, run under controlled PATH, TEMP and
// HOME, answering the installer's questions through standard input.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support.h"

namespace welcometest {

extern const char PROMPT[];
extern const char SUCCESS[];

// What the installer says about a directory that does not exist yet.
std::string missing(const std::string& directory);

// Standard error without the checksum pass's progress lines, which show only
// when the clock's second turns.
zktest::RunResult without_progress(zktest::RunResult result);

class WelcomeRun : public ::testing::Test {
protected:
    void SetUp() override;

    // Packs the welcome text, then the records given.
    void pack(const std::string& text, const std::vector<std::string>& records = {});
    // A program record that prints the directory it runs in.
    std::vector<std::string> show_working_directory();

    // Runs from dir, with HOME = dir and the package found along PATH.
    zktest::RunOptions run_options(const std::string& input) const;
    zktest::RunResult install(const std::string& input, const std::vector<std::string>& args = {});
    // What standard error holds once verification has passed.
    std::string verified() const;

    zktest::TempDir dir;
    const std::string package = dir / "pkg";
    const std::string temp = dir / "tmp";
};

}  // namespace welcometest
