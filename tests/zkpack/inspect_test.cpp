#include "package_util.h"
#include "support.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using zkpacktest::build_package;
using zkpacktest::checksum_of;
using zkpacktest::load32;
using zkpacktest::marker;
using zkpacktest::reseal;
using zkpacktest::store32;
using zkpacktest::zkpack;
using zktest::read_file;
using zktest::TempDir;
using zktest::write_file;

std::string hex32(uint32_t value) {
    char text[9];
    std::snprintf(text, sizeof text, "%08x", value);
    return text;
}

std::string checksum_mismatch(const std::string& file, size_t marker_offset) {
    return "checksum mismatch: stored " + hex32(load32(file, marker_offset + zkpacktest::CHECKSUM_FIELD)) +
           ", computed " + hex32(checksum_of(file, marker_offset));
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    for (size_t start = 0; start < text.size();) {
        const size_t end = text.find('\n', start);
        lines.push_back(text.substr(start, end - start));
        start = end == std::string::npos ? text.size() : end + 1;
    }
    return lines;
}

// What verify says about a package with one problem: one line on standard
// error, exit status 1.
void expect_problem(const std::string& path, const std::string& problem) {
    const auto result = zkpack({"verify", path});
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "zkpack: " + path + ": " + problem + "\n");
    EXPECT_EQ(result.status, 1);
}

TEST(ZkpackList, ShowsHeaderAndOneLinePerRecord) {
    TempDir dir;
    // 65531 bytes: the marker straddles zkpack's 64 KiB read blocks.
    write_file(dir / "stub", zkpacktest::elf_stub(std::string(65531 - 64, 's')));
    write_file(dir / "welcome", "Welcome to Zelkor\r\nSecond line\r\n");
    write_file(dir / "long", std::string(70, 'L') + "\n");
    write_file(dir / "program", std::string(5000, 'p'));
    ASSERT_EQ(zkpack({"create",
                      "-o",
                      dir / "setup",
                      "--stub",
                      dir / "stub",
                      "--env",
                      "ZK_BINDIR=bin.openbsd",
                      "--record",
                      "1",
                      dir / "welcome",
                      "--program",
                      dir / "program",
                      "--env",
                      "TAB=a\tb",
                      "--record",
                      "200",
                      dir / "welcome",
                      "--record",
                      "1",
                      dir / "long"})
                  .status,
              0);
    const std::string file = read_file(dir / "setup");
    ASSERT_EQ(file.size(), 70898u);
    const std::string checksum = hex32(checksum_of(file, 65531));

    const auto result = zkpack({"list", dir / "setup"});
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out,
              "installer program: x86_64\n"
              "marker offset:     65531\n"
              "package length:    5367\n"
              "stored checksum:   " +
                  checksum +
                  "\n"
                  "computed checksum: " +
                  checksum +
                  "\n"
                  "script status:     looked at\n"
                  "index     offset  kind name             length  summary\n"
                  "    0      65703    12 environment          22  ZK_BINDIR=bin.openbsd\n"
                  "    1      65730     1 welcome              32  Welcome to Zelkor\n"
                  "    2      65767     7 program            5000\n"
                  "    3      70772    12 environment           8  TAB=a\\011b\n"
                  "    4      70785   200 unknown              32\n"
                  "    5      70822     1 welcome              71  " +
                  std::string(60, 'L') + "...\n");

    const auto verified = zkpack({"verify", dir / "setup"});
    EXPECT_EQ(verified.out, "");
    EXPECT_EQ(verified.err, "");
    EXPECT_EQ(verified.status, 0);
}

// The first line names the processor the installer program was built for,
// from its ELF header, whatever the packer would accept as a stub.
TEST(ZkpackList, NamesTheInstallerProgramsArchitecture) {
    TempDir dir;
    std::string big_endian = zkpacktest::elf_stub("", 0x0200);
    // Read most significant byte first: an executable for machine 2.
    big_endian[5] = 2;
    std::swap(big_endian[16], big_endian[17]);
    std::string core_dump = zkpacktest::elf_stub();
    core_dump[16] = 4;
    const std::pair<std::string, std::string> stubs[] = {
        {zkpacktest::elf_stub(), "x86_64"},
        {zkpacktest::elf_stub("", zkpacktest::MACHINE_AARCH64), "aarch64"},
        {zkpacktest::elf_stub("", 3), "i686"},
        {zkpacktest::elf_stub("", 243), "ELF machine 243"},
        {big_endian, "ELF machine 2"},
        {core_dump, "not an ELF executable"},
        {zkpacktest::elf_stub().substr(0, 19), "not an ELF executable"},
        {"#!/bin/sh\n", "not an ELF executable"},
        {"", "not an ELF executable"},
    };
    for (const auto& [stub, name] : stubs) {
        write_file(dir / "setup", build_package(stub, {{12, std::string("A=b\0", 4)}}));
        const auto result = zkpack({"list", dir / "setup"});
        EXPECT_EQ(result.status, 0) << name;
        EXPECT_EQ(lines_of(result.out).at(0), "installer program: " + name);
    }
}

TEST(ZkpackList, ReportsTheProblemAfterTheListing) {
    TempDir dir;
    std::string file = build_package("stub", {{12, std::string("A=b\0", 4)}});
    const std::string stored = hex32(load32(file, 4 + zkpacktest::CHECKSUM_FIELD));
    file.back() = 'c';
    write_file(dir / "setup", file);

    const auto result = zkpack({"list", dir / "setup"});
    EXPECT_EQ(result.out,
              "installer program: not an ELF executable\n"
              "marker offset:     4\n"
              "package length:    181\n"
              "stored checksum:   " +
                  stored +
                  "\n"
                  "computed checksum: " +
                  hex32(checksum_of(file, 4)) +
                  "\n"
                  "script status:     looked at\n"
                  "index     offset  kind name             length  summary\n"
                  "    0        176    12 environment           4  A=bc\n");
    EXPECT_EQ(result.err, "zkpack: " + (dir / "setup") + ": " + checksum_mismatch(file, 4) + "\n");
    EXPECT_EQ(result.status, 1);
}

TEST(ZkpackVerify, AcceptsAnEmptyStubAndAPackageWithoutRecords) {
    TempDir dir;
    write_file(dir / "bare", build_package("", {}));
    write_file(dir / "no-records", build_package("stub", {}));
    for (const char* name : {"bare", "no-records"}) {
        const auto result = zkpack({"verify", dir / name});
        EXPECT_EQ(result.err, "") << name;
        EXPECT_EQ(result.status, 0) << name;
    }
}

// Flip each byte of a small package in turn: verify must notice every one,
// and say what the installer would find wrong. All the copies go to one
// verify run, which checks each in turn whatever an earlier one showed: one
// that is sound says nothing, one that cannot be read says what it says alone.
TEST(ZkpackVerify, CatchesASingleFlippedByteAnywhere) {
    TempDir dir;
    const std::string stub = "#!/bin/sh\nexit 0\n";
    const size_t m = stub.size();
    const std::string sound = build_package(
        stub, {{12, std::string("ZK_BINDIR=bin.openbsd\0", 22)}, {7, "#!/bin/sh\necho hi\n"}, {1, "Hi\r\n"}});
    const std::string absent = dir / "absent";
    write_file(dir / "sound", sound);
    std::vector<std::string> args{"verify", dir / "sound", absent};
    std::vector<std::string> expected = lines_of(zkpack({"verify", absent}).err);
    ASSERT_EQ(expected.size(), 1U);

    for (size_t offset = 0; offset < sound.size(); ++offset) {
        const std::string path = dir / ("flipped-" + std::to_string(offset));
        std::string file = sound;
        file[offset] = static_cast<char>(file[offset] ^ 0xFF);
        write_file(path, file);
        args.push_back(path);

        std::string problem;
        if (offset >= m && offset < m + 14) {
            problem = "no package marker found";
        } else if (offset == m + 14) {
            problem = "package header lacks the NUL after the marker";
        } else if (offset >= m + zkpacktest::LENGTH_FIELD && offset < m + zkpacktest::CHECKSUM_FIELD) {
            problem = "size mismatch: the file should be " + std::to_string(m + load32(file, m + 24)) +
                      " bytes, it is " + std::to_string(file.size()) + " bytes";
        } else {
            problem = checksum_mismatch(file, m);
        }
        expected.push_back("zkpack: " + path + ": " + problem);
    }
    const auto result = zkpack(args);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.status, 1);
    const std::vector<std::string> reported = lines_of(result.err);
    ASSERT_EQ(reported.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(reported[i], expected[i]);
}

TEST(ZkpackVerify, AReservedHeaderByteChangesTheChecksumAndNothingElse) {
    TempDir dir;
    const std::string stub = zkpacktest::elf_stub();
    const size_t m = stub.size();
    write_file(dir / "stub", stub);
    write_file(dir / "program", "#!/bin/sh\n");
    const std::string path = dir / "setup";
    ASSERT_EQ(
        zkpack({"create", "-o", path, "--stub", dir / "stub", "--env", "A=b", "--program", dir / "program"}).status, 0);
    const std::string original = read_file(path);
    const auto original_list = zkpack({"list", path});

    for (size_t reserved : {m + 15, m + 23, m + 32, m + 100, m + 171}) {
        SCOPED_TRACE("reserved byte at offset " + std::to_string(reserved));
        std::string file = original;
        file[reserved] = 'R';
        write_file(path, file);
        expect_problem(path, checksum_mismatch(file, m));

        reseal(file, m);
        write_file(path, file);
        EXPECT_NE(load32(file, m + 28), load32(original, m + 28));
        const auto resealed = zkpack({"list", path});
        EXPECT_EQ(resealed.status, 0);
        const auto before = lines_of(original_list.out);
        const auto after = lines_of(resealed.out);
        ASSERT_EQ(after.size(), before.size());
        for (size_t i = 0; i < after.size(); ++i) {
            const bool checksum_line = i == 3 || i == 4;
            EXPECT_EQ(after[i] == before[i], !checksum_line) << after[i];
        }
    }
}

TEST(ZkpackVerify, NamesEachKindOfDamage) {
    TempDir dir;
    const std::string sound = build_package("stub", {{12, std::string("A=b\0", 4)}, {7, "run me"}});

    std::string past_end = sound;  // the last payload claims one byte more than the file holds
    store32(past_end, 4 + 172 + 9, 7);
    reseal(past_end, 4);

    std::string cut_prefix = sound + "abc";  // three bytes where a 5-byte prefix should be
    store32(cut_prefix, 4 + 24, load32(cut_prefix, 4 + 24) + 3);
    reseal(cut_prefix, 4);

    std::string longer = sound + "x";

    const std::string header_only = "stub" + marker() + std::string(11, '\0');

    struct Case {
        std::string name;
        std::string content;
        std::string problem;
    };
    const Case cases[] = {
        {"past-end", past_end, "record 1 at offset 185 runs past the end of the file"},
        {"cut-prefix", cut_prefix, "record 2 at offset 196 runs past the end of the file"},
        {"longer", longer, "size mismatch: the file should be 196 bytes, it is 197 bytes"},
        {"header-cut", header_only, "package header cut short: 25 of 172 bytes"},
        {"no-marker", "just a program, no package", "no package marker found"},
        {"empty", "", "no package marker found"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        write_file(dir / c.name, c.content);
        expect_problem(dir / c.name, c.problem);
    }
    expect_problem(dir / "missing", "cannot open: No such file or directory");
}

}  // namespace
