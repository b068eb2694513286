// The same inputs give the same installer, byte for byte; and create says
// nothing off a terminal.
#include "package_util.h"
#include "support.h"
#include "tree_util.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <string>
#include <vector>

namespace {

using zkpacktest::quoted;
using zkpacktest::shell;
using zkpacktest::zkpack;
using zktest::read_file;
using zktest::RunOptions;
using zktest::TempDir;
using zktest::write_file;

// Every entry's modification time set to seconds.
void touch_tree(const std::string& root, const std::vector<zkpacktest::TreeItem>& items, time_t seconds) {
    const timespec times[2] = {{seconds, 0}, {seconds, 0}};
    for (const auto& item : items) ::utimensat(AT_FDCWD, (root + "/" + item.name).c_str(), times, 0);
}

// A package of every compressed kind, built from dir's inputs.
std::string build(const TempDir& dir, const std::string& tree, const std::string& output, const RunOptions& options) {
    const auto result = zkpack({"create", "-o", dir / output, "--stub", dir / "stub", "--welcome", dir / "welcome",
                                "--tree", dir / tree, "--archive", dir / "product.tar", "--script", dir / "setup.sh"},
                               options);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.status, 0);
    return read_file(dir / output);
}

TEST(ZkpackReproducible, SameInputsGiveTheSameInstaller) {
    TempDir dir;
    write_file(dir / "stub", zkpacktest::elf_stub());
    write_file(dir / "welcome", "Welcome\r\n");
    write_file(dir / "setup.sh", "echo done\n");
    const auto items = zkpacktest::product_tree();
    ::mkdir((dir / "one").c_str(), 0755);
    zkpacktest::make_tree(dir / "one", items);
    ASSERT_EQ(shell("cd " + quoted(dir.path()) + " && tar -cf product.tar one").status, 0);
    // The same tree made again, its files in the reverse order: other
    // inodes, another order in the directories.
    ::mkdir((dir / "two").c_str(), 0755);
    std::vector<zkpacktest::TreeItem> directories_then_files;
    for (const auto& item : items) {
        if (item.name.back() == '/') directories_then_files.push_back(item);
    }
    for (auto item = items.rbegin(); item != items.rend(); ++item) {
        if (item->name.back() != '/') directories_then_files.push_back(*item);
    }
    zkpacktest::make_tree(dir / "two", directories_then_files);
    touch_tree(dir / "one", items, 1000000000);
    touch_tree(dir / "two", items, 1200000000);

    const RunOptions epoch{"", {{"SOURCE_DATE_EPOCH", "1700000000"}}, "", ""};
    const RunOptions no_epoch{"", {{"SOURCE_DATE_EPOCH", std::nullopt}}, "", ""};
    const std::string first = build(dir, "one", "first", epoch);
    EXPECT_TRUE(build(dir, "one", "second", epoch) == first) << "two runs";
    EXPECT_TRUE(build(dir, "two", "other-tree", epoch) == first) << "other mtimes and order under one epoch";
    EXPECT_TRUE(build(dir, "one", "third", no_epoch) == build(dir, "one", "fourth", no_epoch))
        << "two runs without an epoch";
    EXPECT_FALSE(build(dir, "two", "fifth", no_epoch) == build(dir, "one", "sixth", no_epoch))
        << "without an epoch the files' own times count";
}

TEST(ZkpackProgress, NothingOffATerminal) {
    TempDir dir;
    write_file(dir / "stub", zkpacktest::elf_stub());
    write_file(dir / "setup.sh", std::string(300000, 's'));
    ::mkdir((dir / "tree").c_str(), 0755);
    write_file(dir / "tree/file", std::string(300000, 'f'));
    const auto result = zkpack(
        {"create", "-o", dir / "setup", "--stub", dir / "stub", "--tree", dir / "tree", "--script", dir / "setup.sh"});
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.status, 0);
}

// script(1) gives zkpack a terminal and copies what it writes there.
TEST(ZkpackProgress, BarOnATerminalUnlessQuiet) {
    if (shell("command -v script").status != 0) GTEST_SKIP() << "no script command";
    TempDir dir;
    write_file(dir / "stub", zkpacktest::elf_stub());
    write_file(dir / "setup.sh", std::string(300000, 's'));
    ::mkdir((dir / "tree").c_str(), 0755);
    write_file(dir / "tree/file", std::string(300000, 'f'));
    const std::string create = quoted(zktest::zkpack_path()) + " create -o " + quoted(dir / "setup") + " --stub " +
                               quoted(dir / "stub") + " --tree " + quoted(dir / "tree") + " --script " +
                               quoted(dir / "setup.sh");

    const auto shown = shell("script -qec " + quoted(create) + " /dev/null");
    EXPECT_EQ(shown.status, 0);
    const std::string full_tree =
        "--tree " + (dir / "tree") + " [" + std::string(30, '#') + "] 100% 300000/300000 bytes";
    const std::string full_script =
        "--script " + (dir / "setup.sh") + " [" + std::string(30, '#') + "] 100% 300000/300000 bytes";
    EXPECT_NE(shown.out.find("\r--tree " + (dir / "tree") + " [" + std::string(30, '.') + "]   0% 0/300000 bytes"),
              std::string::npos)
        << shown.out;
    EXPECT_NE(shown.out.find("\r" + full_tree + "\r\n"), std::string::npos) << shown.out;
    EXPECT_NE(shown.out.find("\r" + full_script + "\r\n"), std::string::npos) << shown.out;

    const auto quiet = shell("script -qec " + quoted(create + " --quiet") + " /dev/null");
    EXPECT_EQ(quiet.status, 0);
    EXPECT_EQ(quiet.out, "");
}

}  // namespace
