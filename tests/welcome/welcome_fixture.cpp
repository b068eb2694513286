#include "welcome_fixture.h"

#include <sys/stat.h>

namespace welcometest {

const char PROMPT[] = "Directory where to install software [/usr/local/zelkor]: ";
const char SUCCESS[] = "Installation successfully completed.\n";

std::string missing(const std::string& directory) {
    return "\nThe install directory [" + directory + "] does not exist.\nDo you wish to create it [y/n] ? ";
}

void WelcomeRun::SetUp() { ::mkdir(temp.c_str(), 0755); }

void WelcomeRun::pack(const std::string& text, const std::vector<std::string>& records) {
    zktest::write_file(dir / "welcome.txt", text);
    std::vector<std::string> args{"create", "-o", package, "--welcome", dir / "welcome.txt"};
    args.insert(args.end(), records.begin(), records.end());
    const zktest::RunResult made = zktest::run(zktest::zkpack_path(), args);
    ASSERT_EQ(made.status, 0) << made.err;
}

std::vector<std::string> WelcomeRun::show_working_directory() {
    zktest::write_file(dir / "where", "#!/bin/sh\npwd\n", 0755);
    return {"--program", dir / "where"};
}

zktest::RunResult without_progress(zktest::RunResult result) {
    result.err = zktest::without_progress(result.err);
    return result;
}

zktest::RunOptions WelcomeRun::run_options(const std::string& input) const {
    zktest::RunOptions options;
    options.input = input;
    options.cwd = dir.path();
    options.argv0 = "pkg";
    options.env = {{"PATH", dir.path() + ":/usr/bin:/bin"},
                   {"TEMP", temp},
                   {"TMP", std::nullopt},
                   {"HOME", dir.path()},
                   {"PWD", std::nullopt}};
    return options;
}

zktest::RunResult WelcomeRun::install(const std::string& input, const std::vector<std::string>& args) {
    return without_progress(zktest::run(package, args, run_options(input)));
}

std::string WelcomeRun::verified() const {
    return "ZKINSTALL v1.007 Copyright (c) Zelkor Software\n\n"
           "Verifying package file: " +
           package + "\nThis may take a moment...\n\n";
}

}  // namespace welcometest
