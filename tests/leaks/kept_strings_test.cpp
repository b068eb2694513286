// The environment keeps the strings the installer gives to putenv and lets
// go of one when a later record sets its variable again. In the sanitizer
// build such a run must still end quietly: LeakSanitizer would add its report
// to standard error and fail the exit status.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <string>

#include "support.h"

namespace {

TEST(KeptStrings, ReplacedVariablesAreNotReportedAsLeaks) {
    zktest::TempDir dir;
    const std::string temp = dir / "tmp";
    ::mkdir(temp.c_str(), 0755);
    zktest::write_file(dir / "show.sh", "echo \"A=$A root=$INSTALL_ROOT\"\n");
    const std::string package = dir / "pkg";
    const zktest::RunResult made =
        zktest::run(zktest::zkpack_path(), {"create", "-q", "-o", package, "--env", "A=1", "--env", "A=2", "--script",
                                            dir / "show.sh", "--script", dir / "show.sh"});
    ASSERT_EQ(made.status, 0) << made.err;

    zktest::RunOptions options;
    options.env.emplace("PATH", dir.path() + ":/usr/bin:/bin");
    options.env.emplace("TEMP", temp);
    options.cwd = dir.path();
    options.argv0 = "pkg";
    const zktest::RunResult r = zktest::run(package, {}, options);

    const std::string extract = "Extract script to " + temp + "/zkinstall.XXXXXX/zkinstall-temp.exe\n";
    const std::string shown = "A=2 root=" + dir.path() + "\n";
    EXPECT_EQ(r.out, "A=1\nA=2\n" + extract + shown + extract + shown + "Installation successfully completed.\n");
    EXPECT_EQ(r.err.find("LeakSanitizer"), std::string::npos) << r.err;
    EXPECT_EQ(r.status, 0);
}

}  // namespace
