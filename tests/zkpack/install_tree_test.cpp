// A package built by zkpack from a directory tree, installed by the
// installer as a user runs it: the installed tree is the source tree.
#include "package_util.h"
#include "support.h"
#include "tree_util.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <random>
#include <string>
#include <vector>

namespace {

using zktest::RunOptions;
using zktest::TempDir;
using zktest::without_progress;
using zktest::write_file;

std::string random_bytes(size_t size) {
    std::mt19937 random(7);
    std::string bytes(size, '\0');
    for (auto& byte : bytes) byte = static_cast<char>(random());
    return bytes;
}

const std::string LONG_DIRECTORY(120, 'l');

class TreeInstall : public ::testing::Test {
protected:
    void SetUp() override {
        for (const std::string& path : {temp, source, installed}) ::mkdir(path.c_str(), 0755);
        std::vector<zkpacktest::TreeItem> items = zkpacktest::product_tree();
        // Several of the pump's output pieces and of zkpack's read blocks.
        items.push_back({"big", 0644, random_bytes(200001)});
        // Names longer than a header holds, which go into pax records.
        items.push_back({LONG_DIRECTORY + "/", 0755, ""});
        items.push_back({LONG_DIRECTORY + "/" + std::string(110, 'n'), 0644, "long"});
        zkpacktest::make_tree(source, items);
        ASSERT_EQ(::symlink("bin/tool", (source + "/tool-link").c_str()), 0);
        ASSERT_EQ(::link((source + "/a-b").c_str(), (source + "/a-b.hard").c_str()), 0);
        write_file(dir / "welcome.txt", "Welcome to Zelkor\r\n");
        write_file(dir / "setup.sh",
                   "#!/bin/sh\necho \"script in $INSTALL_ROOT\"\ntest -x bin/tool && echo tool ready\n");
        const auto made = zkpacktest::zkpack(
            {"create", "-o", package, "--welcome", dir / "welcome.txt", "--tree", source, "--script", dir / "setup.sh"},
            {"", {{"SOURCE_DATE_EPOCH", "1700000000"}}, "", ""});
        ASSERT_EQ(made.err, "");
        ASSERT_EQ(made.status, 0);
    }

    zktest::RunResult install(const std::vector<std::string>& args, const std::string& input) const {
        RunOptions options;
        options.input = input;
        options.cwd = dir.path();
        options.argv0 = "setup";
        options.env = {{"PATH", dir.path() + ":/usr/bin:/bin"}, {"TEMP", temp}, {"TMP", std::nullopt}};
        return zktest::run(package, args, options);
    }

    TempDir dir;
    const std::string package = dir / "setup";
    const std::string temp = dir / "tmp";
    const std::string source = dir / "product";
    const std::string installed = dir / "installed";
};

TEST_F(TreeInstall, InstalledTreeIsTheSourceTree) {
    const auto result = install({}, installed + "\n");
    EXPECT_EQ(result.out,
              "Welcome to Zelkor\r\n"
              "Directory where to install software [/usr/local/zelkor]: \n"
              "Extracting a-b .. 512 bytes\n"
              "Extracting a-b.hard .. 0 bytes\n"
              "Extracting a.txt .. 0 bytes\n"
              "Extracting a/ .. 0 bytes\n"
              "Extracting a/x .. 1000 bytes\n"
              "Extracting big .. 200001 bytes\n"
              "Extracting bin/ .. 0 bytes\n"
              "Extracting bin/tool .. 10 bytes\n"
              "Extracting empty/ .. 0 bytes\n"
              "Extracting etc/ .. 0 bytes\n"
              "Extracting etc/deep/ .. 0 bytes\n"
              "Extracting etc/deep/er/ .. 0 bytes\n"
              "Extracting etc/deep/er/file .. 513 bytes\n"
              "Extracting etc/secret .. 1024 bytes\n"
              "Extracting " +
                  LONG_DIRECTORY +
                  "/ .. 0 bytes\n"
                  "Extracting " +
                  LONG_DIRECTORY + "/" + std::string(110, 'n') +
                  " .. 4 bytes\n"
                  "Extracting tool-link .. 0 bytes\n"
                  "Extracting  .. 0 bytes\n"
                  "Extract script to " +
                  temp +
                  "/zkinstall.XXXXXX/zkinstall-temp.exe\n"
                  "script in " +
                  installed +
                  "\n"
                  "tool ready\n"
                  "Installation successfully completed.\n");
    EXPECT_EQ(without_progress(result.err),
              "ZKINSTALL v1.007 Copyright (c) Zelkor Software\n\n"
              "Verifying package file: " +
                  package + "\nThis may take a moment...\n\n");
    EXPECT_EQ(result.status, 0);

    // Listed directories keep their exact mode, the private 0700 one too.
    const std::string expected = zkpacktest::describe_tree(source);
    ASSERT_NE(expected.find("etc/ 0700 0\n"), std::string::npos);
    EXPECT_EQ(zkpacktest::describe_tree(installed), expected);
    struct stat first, second;
    ASSERT_EQ(::stat((installed + "/a-b").c_str(), &first), 0);
    ASSERT_EQ(::stat((installed + "/a-b.hard").c_str(), &second), 0);
    EXPECT_EQ(first.st_ino, second.st_ino) << "one file under two names";
}

TEST_F(TreeInstall, StreamedArchiveIsTheOneZkpackCatShows) {
    const auto streamed = install({"-gz"}, "");
    EXPECT_EQ(streamed.status, 0);
    const auto shown = zkpacktest::zkpack({"cat", package, "1"});
    EXPECT_EQ(shown.status, 0);
    EXPECT_TRUE(streamed.out == shown.out)
        << "-gz writes " << streamed.out.size() << " bytes, cat " << shown.out.size();
    EXPECT_EQ(zkpacktest::describe_tree(installed), "") << "nothing installed";
}

// At -1 the tree takes several of the compressor's chunks.
TEST_F(TreeInstall, ThreadCountsGiveOneInstallerThatToolsAndTheInstallerRead) {
    std::string first;
    for (const char* threads : {"1", "2", "8"}) {
        SCOPED_TRACE(threads);
        const std::string output = dir / (std::string("setup-j") + threads);
        const auto made = zkpacktest::zkpack({"create", "-o", output, "-1", "-j", threads, "--tree", source},
                                             {"", {{"SOURCE_DATE_EPOCH", "1700000000"}}, "", ""});
        ASSERT_EQ(made.status, 0) << made.err;
        const std::string bytes = zktest::read_file(output);
        if (first.empty()) first = bytes;
        EXPECT_TRUE(bytes == first) << "the same installer whatever the thread count";
    }
    const auto records = zkpacktest::records_of(first);
    ASSERT_EQ(records.size(), 1u);
    write_file(dir / "tree.tar.bz2", records[0].payload);
    EXPECT_EQ(zkpacktest::shell("bzip2 -t " + zkpacktest::quoted(dir / "tree.tar.bz2")).status, 0);
    const auto listed = zkpacktest::shell("tar -tjf " + zkpacktest::quoted(dir / "tree.tar.bz2"));
    EXPECT_EQ(listed.status, 0);
    EXPECT_NE(listed.out.find("etc/deep/er/file\n"), std::string::npos) << listed.out;

    const auto result = zktest::run(dir / "setup-j8", {}, {"", {{"TEMP", temp}}, installed, ""});
    EXPECT_EQ(result.status, 0) << result.out;
    EXPECT_EQ(zktest::read_file(installed + "/big"), zktest::read_file(source + "/big"));
}

}  // namespace
