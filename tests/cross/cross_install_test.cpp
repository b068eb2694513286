// The installer built for aarch64, run under qemu-user, installs a package
// exactly as the native one does. The programs and scripts it starts are
// the host's, run natively through the host's shell.
#include "package_util.h"
#include "support.h"
#include "tree_util.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>
#include <vector>

namespace {

using zktest::RunOptions;
using zktest::TempDir;
using zktest::write_file;

// Run explicitly, so the test does not depend on the kernel handing
// aarch64 programs to qemu by itself.
constexpr char EMULATOR[] = "/usr/bin/qemu-aarch64-static";

struct Installation {
    zktest::RunResult result;
    std::string tree;
};

class CrossInstall : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(zktest::exists(EMULATOR)) << "qemu-aarch64-static (Debian's qemu-user-static) is needed";
        ::mkdir(source.c_str(), 0755);
        zkpacktest::make_tree(source, zkpacktest::product_tree());
        write_file(dir / "welcome.txt", "Welcome to Zelkor\r\n");
        write_file(dir / "program.sh", "#!/bin/sh\necho \"program with ZELKOR=$ZELKOR\"\n", 0755);
        write_file(dir / "setup.sh",
                   "#!/bin/sh\necho \"script in $INSTALL_ROOT\"\ntest -x bin/tool && echo tool ready\n");
    }

    // Packs for the architecture, then installs into the same place as any
    // other run, so that every path in the output is the same.
    Installation pack_and_install(const std::string& arch) const {
        const auto made = zkpacktest::zkpack({"create", "-o", package, "--arch", arch, "--env", "ZELKOR=2.4",
                                              "--welcome", dir / "welcome.txt", "--tree", source, "--program",
                                              dir / "program.sh", "--script", dir / "setup.sh"});
        EXPECT_EQ(made.err, "");
        EXPECT_EQ(made.status, 0);
        const auto listed = zkpacktest::zkpack({"list", package});
        EXPECT_EQ(listed.out.substr(0, listed.out.find('\n')), "installer program: " + arch);

        zkpacktest::shell("rm -rf " + zkpacktest::quoted(installed) + " " + zkpacktest::quoted(temp) + " && mkdir " +
                          zkpacktest::quoted(temp));
        RunOptions options;
        options.input = installed + "\ny\n";
        options.cwd = dir.path();
        options.argv0 = "setup";
        options.env = {{"PATH", dir.path() + ":/usr/bin:/bin"}, {"TEMP", temp}, {"TMP", std::nullopt}};
        const auto result = arch == "aarch64" ? zktest::run(EMULATOR, {"-0", "setup", package}, options)
                                              : zktest::run(package, {}, options);
        return {{result.out, zktest::without_progress(result.err), result.status},
                zkpacktest::describe_tree(installed)};
    }

    TempDir dir;
    const std::string package = dir / "setup";
    const std::string temp = dir / "tmp";
    const std::string source = dir / "product";
    const std::string installed = dir / "installed";
};

TEST_F(CrossInstall, EmulatedAarch64InstallerDoesWhatTheNativeOneDoes) {
    const Installation native = pack_and_install("x86_64");
    EXPECT_EQ(native.result.status, 0);
    for (const std::string& line : std::vector<std::string>{
             "ZELKOR=2.4\n", "Welcome to Zelkor\r\n", "Extracting bin/tool .. 10 bytes\n", "program with ZELKOR=2.4\n",
             "script in " + installed + "\n", "tool ready\n", "Installation successfully completed.\n"}) {
        EXPECT_NE(native.result.out.find(line), std::string::npos) << line;
    }

    const Installation emulated = pack_and_install("aarch64");
    EXPECT_EQ(emulated.result.out, native.result.out);
    EXPECT_EQ(emulated.result.err, native.result.err);
    EXPECT_EQ(emulated.result.status, native.result.status);
    EXPECT_EQ(emulated.tree, native.tree);
    EXPECT_NE(native.tree, "");
}

}  // namespace
