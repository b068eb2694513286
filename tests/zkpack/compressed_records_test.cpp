// Records with compressed payloads, read back through zkpack cat and
// through independent readers (bzip2, GNU tar, Python's tarfile).
#include "package_util.h"
#include "support.h"
#include "tree_util.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

using zkpacktest::quoted;
using zkpacktest::records_of;
using zkpacktest::shell;
using zkpacktest::zkpack;
using zktest::read_file;
using zktest::RunOptions;
using zktest::TempDir;
using zktest::write_file;

const RunOptions AT_EPOCH{"", {{"SOURCE_DATE_EPOCH", "1700000000"}}, "", ""};

std::string random_text(size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string text(size, '\0');
    for (auto& c : text) c = static_cast<char>('a' + random() % 26);
    return text;
}

// The package's records, after checking that zkpack built it without a word.
std::vector<zkpacktest::Record> create(const std::string& dir, std::vector<std::string> args,
                                       const RunOptions& options = {}) {
    args.insert(args.begin(), {"create", "-o", dir + "/setup", "--stub", dir + "/stub"});
    write_file(dir + "/stub", zkpacktest::elf_stub());
    const auto result = zkpack(args, options);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.status, 0);
    return records_of(read_file(dir + "/setup"));
}

std::string cat(const std::string& package, int index) {
    const auto result = zkpack({"cat", package, std::to_string(index)});
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.status, 0);
    return result.out;
}

// bzip2 itself, on the payload alone: it must be a bzip2 stream, whole.
std::string bunzip2(const std::string& dir, const std::string& payload) {
    write_file(dir + "/payload.bz2", payload);
    const auto result = shell("bzip2 -dc " + quoted(dir + "/payload.bz2"));
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.status, 0);
    return result.out;
}

TEST(ZkpackScript, PayloadIsTheScriptAsOneBzip2Stream) {
    TempDir dir;
    const std::string script = "#!/bin/sh\necho \"$INSTALL_ROOT\"\n" + random_text(300000, 1);
    write_file(dir / "setup.sh", script, 0755);
    const auto records = create(dir.path(), {"--script", dir / "setup.sh"});
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].kind, 11u);
    EXPECT_EQ(records[0].payload.substr(0, 4), "BZh9");
    EXPECT_LT(records[0].payload.size(), script.size());
    EXPECT_TRUE(bunzip2(dir.path(), records[0].payload) == script);
    EXPECT_TRUE(cat(dir / "setup", 0) == script);
}

// More than one 100 kB block, so the block size changes the stream.
TEST(ZkpackScript, BlockSizeOptionsGiveValidStreamsOfThatSize) {
    TempDir dir;
    const std::string script = random_text(250000, 2);
    write_file(dir / "setup.sh", script);
    for (const char* option : {"-1", "-5", "-9"}) {
        SCOPED_TRACE(option);
        const auto records = create(dir.path(), {option, "--script", dir / "setup.sh"});
        ASSERT_EQ(records.size(), 1u);
        EXPECT_EQ(records[0].payload.substr(0, 4), std::string("BZh") + option[1]);
        EXPECT_TRUE(bunzip2(dir.path(), records[0].payload) == script);
        EXPECT_TRUE(cat(dir / "setup", 0) == script);
    }
    const auto default_records = create(dir.path(), {"--script", dir / "setup.sh"});
    const auto nine_records = create(dir.path(), {"-9", "--script", dir / "setup.sh"});
    EXPECT_TRUE(default_records[0].payload == nine_records[0].payload) << "-9 is the default";
}

TEST(ZkpackScript, EmptyScriptIsAnEmptyStream) {
    TempDir dir;
    write_file(dir / "empty.sh", "");
    const auto records = create(dir.path(), {"--script", dir / "empty.sh"});
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(bunzip2(dir.path(), records[0].payload), "");
    EXPECT_EQ(cat(dir / "setup", 0), "");
}

TEST(ZkpackTree, TarListsEveryEntryInOrderWithModesOwnerAndTime) {
    TempDir dir;
    ::mkdir((dir / "product").c_str(), 0755);
    zkpacktest::make_tree(dir / "product", zkpacktest::product_tree());
    const auto records = create(dir.path(), {"--tree", dir / "product"}, AT_EPOCH);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].kind, 2u);
    const std::string tar = cat(dir / "setup", 0);
    EXPECT_TRUE(bunzip2(dir.path(), records[0].payload) == tar);
    write_file(dir / "tree.tar", tar);

    const auto listed = shell("tar -tvf " + quoted(dir / "tree.tar"), {"", {{"TZ", "UTC"}}, "", ""});
    EXPECT_EQ(listed.err, "");
    EXPECT_EQ(listed.status, 0);
    EXPECT_EQ(listed.out,
              "-rw-r--r-- 0/0             512 2023-11-14 22:13 a-b\n"
              "-rw-r--r-- 0/0               0 2023-11-14 22:13 a.txt\n"
              "drwxr-xr-x 0/0               0 2023-11-14 22:13 a/\n"
              "-rwx------ 0/0            1000 2023-11-14 22:13 a/x\n"
              "drwxr-xr-x 0/0               0 2023-11-14 22:13 bin/\n"
              "-rwxr-xr-x 0/0              10 2023-11-14 22:13 bin/tool\n"
              "drwxr-xr-x 0/0               0 2023-11-14 22:13 empty/\n"
              "drwx------ 0/0               0 2023-11-14 22:13 etc/\n"
              "drwxr-xr-x 0/0               0 2023-11-14 22:13 etc/deep/\n"
              "drwxr-xr-x 0/0               0 2023-11-14 22:13 etc/deep/er/\n"
              "-rw-r--r-- 0/0             513 2023-11-14 22:13 etc/deep/er/file\n"
              "-rw------- 0/0            1024 2023-11-14 22:13 etc/secret\n");

    EXPECT_EQ(tar.substr(257, 8), std::string("ustar\0"
                                              "00",
                                              8));
    // The fields the installer reads, and those that would make the stream
    // depend on the machine: owner ids and names, times.
    const char* python =
        "import sys, tarfile\n"
        "with tarfile.open(sys.argv[1]) as t:\n"
        "    for m in t:\n"
        "        print(m.name, oct(m.mode), m.type.decode(), m.size, m.uid, m.gid, repr(m.uname), repr(m.gname), "
        "m.mtime)\n";
    write_file(dir / "list.py", python);
    const auto read = shell("python3 " + quoted(dir / "list.py") + " " + quoted(dir / "tree.tar"));
    EXPECT_EQ(read.err, "");
    EXPECT_EQ(read.out,
              "a-b 0o644 0 512 0 0 '' '' 1700000000\n"
              "a.txt 0o644 0 0 0 0 '' '' 1700000000\n"
              "a 0o755 5 0 0 0 '' '' 1700000000\n"
              "a/x 0o700 0 1000 0 0 '' '' 1700000000\n"
              "bin 0o755 5 0 0 0 '' '' 1700000000\n"
              "bin/tool 0o755 0 10 0 0 '' '' 1700000000\n"
              "empty 0o755 5 0 0 0 '' '' 1700000000\n"
              "etc 0o700 5 0 0 0 '' '' 1700000000\n"
              "etc/deep 0o755 5 0 0 0 '' '' 1700000000\n"
              "etc/deep/er 0o755 5 0 0 0 '' '' 1700000000\n"
              "etc/deep/er/file 0o644 0 513 0 0 '' '' 1700000000\n"
              "etc/secret 0o600 0 1024 0 0 '' '' 1700000000\n");
}

TEST(ZkpackTree, TarUnpacksToTheSameFiles) {
    TempDir dir;
    ::mkdir((dir / "product").c_str(), 0755);
    std::vector<zkpacktest::TreeItem> items = zkpacktest::product_tree();
    // Bigger than the packer's read blocks, and not a multiple of them.
    items.push_back({"big", 0644, random_text(200001, 3)});
    zkpacktest::make_tree(dir / "product", items);
    create(dir.path(), {"--tree", dir / "product"});
    write_file(dir / "tree.tar", cat(dir / "setup", 0));
    ::mkdir((dir / "unpacked").c_str(), 0755);
    const auto unpacked = shell("tar -xpf " + quoted(dir / "tree.tar") + " -C " + quoted(dir / "unpacked"));
    EXPECT_EQ(unpacked.err, "");
    EXPECT_EQ(zkpacktest::describe_tree(dir / "unpacked"), zkpacktest::describe_tree(dir / "product"));
}

TEST(ZkpackTree, EmptyDirectoryGivesAnArchiveOfNoEntries) {
    TempDir dir;
    ::mkdir((dir / "nothing").c_str(), 0755);
    create(dir.path(), {"--tree", dir / "nothing"});
    EXPECT_EQ(cat(dir / "setup", 0), std::string(1024, '\0'));
}

TEST(ZkpackArchive, TarIsCompressedAndCompressedTarsPackedAsTheyAre) {
    TempDir dir;
    ::mkdir((dir / "product").c_str(), 0755);
    zkpacktest::make_tree(dir / "product", zkpacktest::product_tree());
    // The zstd archive in two frames back to back, cut inside the tar stream.
    const auto made = shell("cd " + quoted(dir.path()) + " && tar --format=ustar -cf product.tar product && " +
                            "bzip2 -k product.tar && xz -k product.tar && head -c 3000 product.tar | zstd -q -c" +
                            " > product.tar.zst && tail -c +3001 product.tar | zstd -q -c >> product.tar.zst" +
                            " && cp product.tar.xz junk.tar.xz && printf junk >> junk.tar.xz");
    ASSERT_EQ(made.status, 0) << made.err;
    const std::string tar = read_file(dir / "product.tar");

    const auto records = create(dir.path(), {"-3", "--archive", dir / "product.tar", "--archive", dir / "product.tar.bz2",
                                             "--archive", dir / "product.tar.zst", "--archive", dir / "product.tar.xz"});
    ASSERT_EQ(records.size(), 4u);
    EXPECT_EQ(records[0].kind, 2u);
    EXPECT_EQ(records[0].payload.substr(0, 4), "BZh3");
    EXPECT_TRUE(bunzip2(dir.path(), records[0].payload) == tar);
    const char* compressed[] = {"product.tar.bz2", "product.tar.zst", "product.tar.xz"};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(records[i].kind, 2u);
        if (i > 0) {
            EXPECT_TRUE(records[i].payload == read_file(dir / compressed[i - 1])) << "packed unchanged";
        }
        EXPECT_TRUE(cat(dir / "setup", i) == tar) << i;
    }
    const std::string listed = zkpack({"list", dir / "setup"}).out;
    for (const char* name : {"bzip2", "zstd", "xz"}) {
        EXPECT_NE(listed.find(std::string("  ") + name + ", 13 entries, " + std::to_string(tar.size()) + " bytes\n"),
                  std::string::npos)
            << listed;
    }
    const auto junk = zkpack({"create", "-o", dir / "refused", "--stub", dir / "stub", "--archive", dir / "junk.tar.xz"});
    EXPECT_EQ(junk.err, "zkpack: " + dir / "junk.tar.xz" +
                            ": 4 bytes follow its xz stream; the installer would fail on them\n");
    EXPECT_EQ(junk.status, 1);

    for (const std::string compression : {"zstd:3", "xz:1"}) {
        create(dir.path(), {"--compress", compression, "--archive", dir / "product.tar"});
        EXPECT_TRUE(cat(dir / "setup", 0) == tar) << compression;
        EXPECT_NE(zkpack({"list", dir / "setup"}).out.find("  " + compression.substr(0, compression.find(':')) + ", "),
                  std::string::npos);
    }
    EXPECT_EQ(zkpack({"create", "-o", dir / "refused", "--compress", "zstd:23", "--tree", dir / "product"}).err,
              "zkpack: zstd level '23' is not a number from 1 to 22\nTry 'zkpack --help' for more information.\n");
}

TEST(ZkpackArchive, AcceptsArchivesOfGnuTarAndPythonInEveryFormat) {
    TempDir dir;
    ::mkdir((dir / "product").c_str(), 0755);
    zkpacktest::make_tree(dir / "product", zkpacktest::product_tree());
    const char* python =
        "import sys, tarfile\n"
        "for name, form in (('py-pax', tarfile.PAX_FORMAT), ('py-gnu', tarfile.GNU_FORMAT),\n"
        "                   ('py-ustar', tarfile.USTAR_FORMAT)):\n"
        "    with tarfile.open(name + '.tar', 'w', format=form) as t:\n"
        "        t.add('product')\n";
    write_file(dir / "make.py", python);
    const auto made = shell("cd " + quoted(dir.path()) +
                            " && for f in gnu ustar pax; do tar --format=$f -cf tar-$f.tar product || exit 1; done" +
                            " && tar -C product -cf dot.tar . && python3 make.py");
    ASSERT_EQ(made.status, 0) << made.err;
    for (const char* name : {"tar-gnu", "tar-ustar", "tar-pax", "dot", "py-pax", "py-gnu", "py-ustar"}) {
        SCOPED_TRACE(name);
        const std::string archive = dir / (std::string(name) + ".tar");
        create(dir.path(), {"--archive", archive});
        EXPECT_TRUE(cat(dir / "setup", 0) == read_file(archive));
    }
}

TEST(ZkpackWelcome, PayloadIsTheFileAsItIs) {
    TempDir dir;
    const std::string text = "Welcome to Zelkor 2.4\r\n\r\nThis installs \"Zelkor\" \t on your system.\r\n\xff\x01";
    write_file(dir / "welcome.txt", text);
    const auto records = create(dir.path(), {"--welcome", dir / "welcome.txt"});
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].kind, 1u);
    EXPECT_TRUE(records[0].payload == text);
    EXPECT_TRUE(cat(dir / "setup", 0) == text);
}

TEST(ZkpackList, SummarisesArchiveAndWelcomeRecords) {
    TempDir dir;
    ::mkdir((dir / "product").c_str(), 0755);
    zkpacktest::make_tree(dir / "product", zkpacktest::product_tree());
    ::mkdir((dir / "one").c_str(), 0755);
    write_file(dir / "one/file", "x");
    write_file(dir / "welcome.txt", "Welcome to Zelkor\r\nSecond line\r\n");
    write_file(dir / "garbage", "not bzip2");
    write_file(dir / "text", random_text(20000, 4));
    const auto compressed = shell("bzip2 -c " + quoted(dir / "text"));
    write_file(dir / "cut", compressed.out.substr(0, compressed.out.size() / 2));
    create(dir.path(), {"--welcome", dir / "welcome.txt", "--tree", dir / "product", "--tree", dir / "one", "--record",
                        "10", dir / "garbage", "--record", "2", dir / "cut"});
    const auto result = zkpack({"list", dir / "setup"});
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.status, 0);

    // Summaries after the fixed columns: 12 headers, file data in 8 blocks
    // and the 2 end blocks; 1 header, 1 block and the end.
    const std::string summaries[] = {
        "  1 welcome              32  Welcome to Zelkor",
        "  2 archive  ",
        "  bzip2, 12 entries, 11264 bytes",
        "  2 archive  ",
        "  bzip2, 1 entry, 2048 bytes",
        " 10 archive               9  0 entries, 0 bytes; not a bzip2, zstd or xz stream",
        "  2 archive  ",
        " bytes; its bzip2 stream is cut short",
    };
    std::vector<std::string> lines;
    for (size_t start = result.out.find("index"); (start = result.out.find('\n', start)) != std::string::npos;) {
        const size_t end = result.out.find('\n', ++start);
        if (end != std::string::npos) lines.push_back(result.out.substr(start, end - start));
    }
    ASSERT_EQ(lines.size(), 5u) << result.out;
    const auto ends_with = [](const std::string& line, const std::string& tail) {
        return line.size() >= tail.size() && line.compare(line.size() - tail.size(), tail.size(), tail) == 0;
    };
    EXPECT_TRUE(ends_with(lines[0], summaries[0])) << lines[0];
    EXPECT_TRUE(ends_with(lines[3], summaries[5])) << lines[3];
    for (size_t i : {1, 2, 4}) {
        const size_t first = i == 4 ? 6 : 2 * i - 1;
        EXPECT_NE(lines[i].find(summaries[first]), std::string::npos) << lines[i];
        EXPECT_TRUE(ends_with(lines[i], summaries[first + 1])) << lines[i];
    }
}

TEST(ZkpackCat, WritesOtherPayloadsAsTheyAreAndReportsBrokenStreams) {
    TempDir dir;
    write_file(dir / "garbage", "not bzip2");
    // pbzip2 writes a stream per 100 kB block, back to back.
    const std::string text = random_text(250000, 5);
    write_file(dir / "text", text);
    const auto made = shell("cd " + quoted(dir.path()) + " && pbzip2 -b1 -c text > multi.bz2" +
                            " && cp multi.bz2 junk.bz2 && printf junk >> junk.bz2");
    ASSERT_EQ(made.status, 0) << made.err;
    const auto records = create(dir.path(), {"--env", "A=b", "--record", "11", dir / "garbage", "--record", "11",
                                             dir / "multi.bz2", "--record", "2", dir / "junk.bz2"});
    ASSERT_EQ(records.size(), 4u);
    EXPECT_EQ(cat(dir / "setup", 0), std::string("A=b\0", 4));
    EXPECT_TRUE(cat(dir / "setup", 2) == text) << "every stream, not the first alone";

    struct Case {
        std::vector<std::string> args;
        std::string err;
        int status;
        std::string out = "";
    };
    const std::string setup = dir / "setup";
    const std::string usage = "\nTry 'zkpack --help' for more information.\n";
    const std::string junk = "4 bytes follow its bzip2 stream; the installer would fail on them\n";
    const Case cases[] = {
        {{"cat", setup, "1"}, "zkpack: " + setup + ": record 1: not a bzip2, zstd or xz stream\n", 1},
        {{"cat", setup, "3"}, "zkpack: " + setup + ": record 3: " + junk, 1, text},
        {{"cat", setup, "4"}, "zkpack: " + setup + ": no record 4; the package holds 4 records\n", 1},
        {{"cat", setup}, "zkpack: cat needs a record index" + usage, 2},
        {{"cat", setup, "-1"}, "zkpack: record index '-1' is not a number" + usage, 2},
        {{"cat", setup, "1", "2"}, "zkpack: unexpected argument '2'" + usage, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        const auto result = zkpack(c.args);
        EXPECT_TRUE(result.out == c.out) << "what the streams hold, up to the junk";
        EXPECT_EQ(result.err, c.err);
        EXPECT_EQ(result.status, c.status);
    }

    const std::string listed = zkpack({"list", setup}).out;
    const std::string summary = "bzip2, 0 entries, 250000 bytes; " + junk;
    ASSERT_GE(listed.size(), summary.size());
    EXPECT_EQ(listed.substr(listed.size() - summary.size()), summary);
}

}  // namespace
