#include "package_util.h"
#include "support.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

using zkpacktest::build_package;
using zkpacktest::directory_entries;
using zkpacktest::marker;
using zkpacktest::Record;
using zkpacktest::zkpack;
using zktest::read_file;
using zktest::TempDir;
using zktest::write_file;

const char TRY_HELP[] = "Try 'zkpack --help' for more information.\n";

std::string random_bytes(size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (auto& byte : bytes) byte = static_cast<char>(random());
    return bytes;
}

TEST(ZkpackCreate, WritesStubHeaderAndRecordsInOrder) {
    TempDir dir;
    const std::string stub = zkpacktest::elf_stub(random_bytes(5000, 1));
    const std::string welcome = "Welcome to Zelkor\r\nSecond line\r\n";
    // Larger than zkpack's blocks and not a multiple of them.
    const std::string program = random_bytes(200003, 2);
    write_file(dir / "stub", stub);
    write_file(dir / "welcome", welcome);
    write_file(dir / "program", program);
    write_file(dir / "empty", "");

    const auto result =
        zkpack({"create",   "-o", dir / "setup",   "--stub",   dir / "stub", "--env",        "ZK_BINDIR=bin.openbsd",
                "--record", "1",  dir / "welcome", "--env",    "EMPTY=",     "--program",    dir / "program",
                "--record", "0",  dir / "empty",   "--record", "255",        dir / "welcome"});
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out, "");
    ASSERT_EQ(result.status, 0);

    const std::string expected = build_package(stub, {{12, std::string("ZK_BINDIR=bin.openbsd\0", 22)},
                                                      {1, welcome},
                                                      {12, std::string("EMPTY=\0", 7)},
                                                      {7, program},
                                                      {0, ""},
                                                      {255, welcome}});
    EXPECT_TRUE(read_file(dir / "setup") == expected) << "the package differs from one built by the rules";
    EXPECT_EQ(zktest::mode_of(dir / "setup"), 0755u);
    EXPECT_EQ(directory_entries(dir.path()), (std::vector<std::string>{"empty", "program", "setup", "stub", "welcome"}))
        << "no temporary file is left beside the output";
}

TEST(ZkpackCreate, ReplacesAnExistingOutputWithMode0755) {
    TempDir dir;
    write_file(dir / "stub", zkpacktest::elf_stub());
    write_file(dir / "setup", std::string(1000, 'o'), 0600);
    ASSERT_EQ(zkpack({"create", "-o", dir / "setup", "--stub", dir / "stub", "--env", "A=b"}).status, 0);
    EXPECT_TRUE(read_file(dir / "setup") == build_package(zkpacktest::elf_stub(), {{12, std::string("A=b\0", 4)}}));
    EXPECT_EQ(zktest::mode_of(dir / "setup"), 0755u);
}

TEST(ZkpackCreate, EnvironmentPayloadUpTo1023BytesIsAccepted) {
    TempDir dir;
    write_file(dir / "stub", zkpacktest::elf_stub());
    const std::string assignment = "V=" + std::string(1020, 'x');  // 1022 bytes and the NUL
    ASSERT_EQ(zkpack({"create", "-o", dir / "setup", "--stub", dir / "stub", "--env", assignment}).status, 0);
    EXPECT_TRUE(read_file(dir / "setup") == build_package(zkpacktest::elf_stub(), {{12, assignment + '\0'}}));
}

// zkpack takes the installer program of this machine, or of the one --arch
// names, from their directory relative to its own, laid out as in the build
// tree; --stub wins over both.
TEST(ZkpackCreate, InstallerProgramsRelativeToZkpack) {
    TempDir dir;
    const std::string packer = dir / "bin/zkpack";
    ::mkdir((dir / "bin").c_str(), 0755);
    write_file(packer, read_file(zktest::zkpack_path()), 0755);
    const auto stub_for = [&](const std::string& arch) {
        return dir.path() + zktest::installer_program_path(arch).substr(zktest::binary_dir().size());
    };
    const auto create = [&](std::vector<std::string> choice) {
        std::vector<std::string> args = {"create", "-o", dir / "setup", "--env", "A=b"};
        args.insert(args.end(), choice.begin(), choice.end());
        return zktest::run(packer, args);
    };

    auto result = create({});
    EXPECT_EQ(result.err, "zkpack: " + stub_for("x86_64") +
                              ": cannot open the default stub (give --stub FILE): No such file or directory\n");
    EXPECT_EQ(result.status, 1);
    result = create({"--arch", "aarch64"});
    EXPECT_EQ(result.err, "zkpack: " + stub_for("aarch64") +
                              ": cannot open the installer program for aarch64 (give --stub FILE): No such file or "
                              "directory\n");
    EXPECT_EQ(result.status, 1);

    const std::string native = zkpacktest::elf_stub("this machine's");
    const std::string arm = zkpacktest::elf_stub("arm", zkpacktest::MACHINE_AARCH64);
    std::filesystem::create_directories(std::filesystem::path(stub_for("x86_64")).parent_path());
    write_file(stub_for("x86_64"), native, 0755);
    write_file(stub_for("aarch64"), native, 0755);
    result = create({"--arch", "aarch64"});
    EXPECT_EQ(result.err, "zkpack: " + stub_for("aarch64") + ": is an installer program for x86_64, not aarch64\n");
    EXPECT_EQ(result.status, 1);
    EXPECT_FALSE(zktest::exists(dir / "setup"));

    write_file(stub_for("aarch64"), arm, 0755);
    write_file(dir / "other", native, 0755);
    const std::pair<std::vector<std::string>, std::string> choices[] = {
        {{}, native},
        {{"--arch", "x86_64"}, native},
        {{"--arch", "aarch64"}, arm},
        {{"--arch", "aarch64", "--stub", dir / "other"}, native},
        {{"--stub", dir / "other", "--arch", "aarch64"}, native},
    };
    for (const auto& [choice, stub] : choices) {
        SCOPED_TRACE(testing::PrintToString(choice));
        result = create(choice);
        EXPECT_EQ(result.err, "");
        ASSERT_EQ(result.status, 0);
        EXPECT_TRUE(read_file(dir / "setup") == build_package(stub, {{12, std::string("A=b\0", 4)}}));
    }
}

// Each refusal names what is wrong and leaves no output, not even a
// temporary file, behind.
TEST(ZkpackCreate, RefusesBadInputWithoutWritingAnything) {
    TempDir dir;
    const std::string stub = dir / "stub";
    const std::string out = dir / "setup";
    write_file(stub, zkpacktest::elf_stub());
    write_file(dir / "input", "payload");
    // The marker straddles zkpack's 64 KiB read blocks.
    write_file(dir / "marked", zkpacktest::elf_stub(std::string(65466, 'x') + marker() + "tail"));
    ::mkdir((dir / "folder").c_str(), 0755);
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0644), 0);  // no writer will come
    ASSERT_EQ(::link((dir / "input").c_str(), (dir / "input-link").c_str()), 0);
    std::string object = zkpacktest::elf_stub();
    object[16] = 1;  // relocatable, not executable
    write_file(dir / "object", object);
    {
        // Sparse: 4 GiB that take no room on disk.
        write_file(dir / "huge", zkpacktest::elf_stub());
        ASSERT_EQ(::truncate((dir / "huge").c_str(), 4LL << 30), 0);
    }
    const std::vector<std::string> inputs = directory_entries(dir.path());

    struct Case {
        std::vector<std::string> args;  // after "create"
        std::string err;
        int status;
    };
    const auto usual = [&](std::vector<std::string> records) {
        records.insert(records.begin(), {"-o", out, "--stub", stub});
        return records;
    };
    const std::string usage = "\n" + std::string(TRY_HELP);
    const std::string big_value(1021, 'y');  // V= and these and the NUL: 1024 bytes
    const Case cases[] = {
        {usual({"--env", "NAME"}), "zkpack: --env NAME: not an assignment NAME=VALUE\n", 1},
        {usual({"--env", "=value"}), "zkpack: --env =value: no variable name before '='\n", 1},
        {usual({"--env", "A=b", "--env", "V=" + big_value}),
         "zkpack: --env V: the assignment takes 1024 bytes with its NUL; the installer accepts at most 1023\n", 1},
        {usual({"--record", "256", dir / "input"}), "zkpack: record kind '256' is not a number from 0 to 255" + usage,
         2},
        {usual({"--record", "-1", dir / "input"}), "zkpack: record kind '-1' is not a number from 0 to 255" + usage, 2},
        {usual({"--record", "7x", dir / "input"}), "zkpack: record kind '7x' is not a number from 0 to 255" + usage, 2},
        {usual({"--record", "", dir / "input"}), "zkpack: record kind '' is not a number from 0 to 255" + usage, 2},
        {usual({"--program", dir / "missing"}),
         "zkpack: " + (dir / "missing") + ": cannot open: No such file or directory\n", 1},
        {usual({"--env", "A=b", "--program", dir / "folder"}), "zkpack: " + (dir / "folder") + ": not a regular file\n",
         1},
        {usual({"--env", "A=b", "--script", dir / "fifo"}), "zkpack: " + (dir / "fifo") + ": not a regular file\n", 1},
        {usual({"--archive", dir / "fifo"}), "zkpack: " + (dir / "fifo") + ": not a regular file\n", 1},
        {usual({"--sign", dir / "fifo", "--env", "A=b"}), "zkpack: " + (dir / "fifo") + ": not a regular file\n", 1},
        {{"-o", out, "--stub", dir / "fifo", "--env", "A=b"},
         "zkpack: " + (dir / "fifo") + ": not a regular file\n",
         1},
        {usual({"--program", dir / "input", "--record", "9", dir / "huge"}),
         "zkpack: " + (dir / "huge") + ": would make the installer 4 GiB or larger, beyond its 32-bit offsets\n", 1},
        {usual({"--bogus"}), "zkpack: unknown option '--bogus'" + usage, 2},
        {usual({"--program"}), "zkpack: option '--program' needs an argument" + usage, 2},
        {usual({"--record", "7"}), "zkpack: option '--record' needs an argument" + usage, 2},
        {usual({"-j", "0"}), "zkpack: thread count '0' is not a number from 1 to 256" + usage, 2},
        {usual({"-j2x"}), "zkpack: thread count '2x' is not a number from 1 to 256" + usage, 2},
        {usual({"-j"}), "zkpack: option '-j' needs an argument" + usage, 2},
        {{"-o", out, "--stub", dir / "marked", "--env", "A=b"},
         "zkpack: " + (dir / "marked") +
             ": contains the package marker at offset 65530, so it cannot serve as the installer program\n",
         1},
        {{"-o", out, "--stub", dir / "input", "--env", "A=b"},
         "zkpack: " + (dir / "input") + ": is not an ELF executable, so it cannot serve as the installer program\n",
         1},
        {{"-o", out, "--stub", dir / "object", "--env", "A=b"},
         "zkpack: " + (dir / "object") + ": is not an ELF executable, so it cannot serve as the installer program\n",
         1},
        {usual({"--arch", "arm64"}), "zkpack: unknown architecture 'arm64' (x86_64, aarch64 or i686)" + usage, 2},
        {usual({"--arch"}), "zkpack: option '--arch' needs an argument" + usage, 2},
        {{"-o", out, "--stub", dir / "huge", "--env", "A=b"},
         "zkpack: " + (dir / "huge") + ": would make the installer 4 GiB or larger, beyond its 32-bit offsets\n",
         1},
        {{"-o", out, "--stub", dir / "nothing", "--env", "A=b"},
         "zkpack: " + (dir / "nothing") + ": cannot open: No such file or directory\n",
         1},
        {{"-o", dir / "no-such-dir/setup", "--stub", stub, "--env", "A=b"},
         "zkpack: " + (dir / "no-such-dir/setup") + ": cannot create: No such file or directory\n",
         1},
        {{"--stub", stub, "--env", "A=b"}, "zkpack: create needs -o OUT" + usage, 2},
        {{"-o", out, "--stub", stub}, "zkpack: create needs at least one record" + usage, 2},
        {usual({"--product", "Tools\nrm", "--env", "A=b"}),
         "zkpack: option '--product' needs a value of one line" + usage, 2},
        {usual({"--product-version", "", "--env", "A=b"}),
         "zkpack: option '--product-version' needs a value of one line" + usage, 2},
        {usual({"--default-dir", "/opt/p", "--env", "A=b"}),
         "zkpack: --default-dir needs a --welcome record: the install directory is chosen at the welcome text's "
         "prompt, so without one it would be ignored" +
             usage,
         2},
        {{"-o", stub, "--stub", stub, "--env", "A=b"},
         "zkpack: " + stub + ": is also the input " + stub + ", which it would replace; choose another output\n",
         1},
        {{"-o", dir / "input", "--stub", stub, "--welcome", dir / "input-link"},
         "zkpack: " + (dir / "input") + ": is also the input " + (dir / "input-link") +
             ", which it would replace; choose another output\n",
         1},
        {{"-o", dir / "folder/../folder/setup", "--stub", stub, "--tree", dir / "folder"},
         "zkpack: " + (dir / "folder/../folder/setup") + ": lies inside the --tree " + (dir / "folder") +
             ", which would take it in; choose another output\n",
         1},
    };
    // A run that hangs is ended by SIGALRM, which fails its case.
    zktest::RunOptions limited;
    limited.in_child = [] { ::alarm(10); };
    for (const auto& c : cases) {
        std::vector<std::string> args = {"create"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        SCOPED_TRACE(testing::PrintToString(args));
        const auto result = zkpack(args, limited);
        EXPECT_EQ(result.err, c.err);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.status, c.status);
        EXPECT_EQ(directory_entries(dir.path()), inputs);
    }
    // Refused unopened: opening the FIFO would release the writer waiting on it.
    std::atomic<bool> writer_released{false};
    std::thread writer([&] {
        const int fd = ::open((dir / "fifo").c_str(), O_WRONLY | O_CLOEXEC);
        writer_released = true;
        if (fd >= 0) ::close(fd);
    });
    const auto refused = zkpack({"create", "-o", out, "--stub", stub, "--script", dir / "fifo"}, limited);
    EXPECT_EQ(refused.err, "zkpack: " + (dir / "fifo") + ": not a regular file\n");
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(writer_released);
    const int reader = ::open((dir / "fifo").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    writer.join();
    ::close(reader);
}

// While a large script is compressed, its file's time is changed or zkpack
// gets a signal: either way nothing is left but the inputs.
TEST(ZkpackCreate, InputChangedOrSignalMidwayLeavesNothing) {
    TempDir dir;
    write_file(dir / "stub", zkpacktest::elf_stub());
    write_file(dir / "big", random_bytes(8 << 20, 3));
    const std::vector<std::string> inputs = directory_entries(dir.path());
    struct Case {
        int signal_number;  // 0: the script's modification time changes instead
        std::string err;
        int status;
    };
    const Case cases[] = {{0, "zkpack: " + (dir / "big") + ": changed while being packed\n", 1},
                          {SIGINT, "", 128 + SIGINT},
                          {SIGTERM, "", 128 + SIGTERM},
                          {SIGHUP, "", 128 + SIGHUP}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.signal_number);
        std::thread meddler;
        zktest::RunOptions options;
        options.started = [&](pid_t pid) {
            meddler = std::thread([&dir, &c, pid] {
                // The unfinished output past the stub: the script is being read.
                for (int tries = 0; tries < 3000; ++tries) {
                    const std::vector<std::string> names = directory_entries(dir.path());
                    const auto partial = std::find_if(names.begin(), names.end(), [](const std::string& name) {
                        return name.rfind("setup.", 0) == 0;
                    });
                    struct stat status;
                    if (partial != names.end() && ::stat((dir / *partial).c_str(), &status) == 0 &&
                        status.st_size > 1000) {
                        break;
                    }
                    std::this_thread::sleep_for(std::chrono::milliseconds(2));
                }
                if (c.signal_number != 0) {
                    ::kill(pid, c.signal_number);
                } else {
                    const timespec times[2] = {{0, UTIME_OMIT}, {1000000000, 0}};
                    ::utimensat(AT_FDCWD, (dir / "big").c_str(), times, 0);
                }
            });
        };
        const auto result = zktest::run(
            zktest::zkpack_path(),
            {"create", "-o", dir / "setup", "--stub", dir / "stub", "-1", "--script", dir / "big"}, options);
        meddler.join();
        EXPECT_EQ(result.err, c.err);
        EXPECT_EQ(result.status, c.status);
        EXPECT_EQ(directory_entries(dir.path()), inputs);
    }
}

TEST(ZkpackCreate, FailureLeavesAnExistingOutputAsItWas) {
    TempDir dir;
    write_file(dir / "stub", zkpacktest::elf_stub());
    write_file(dir / "setup", "the previous installer", 0755);
    const auto result =
        zkpack({"create", "-o", dir / "setup", "--stub", dir / "stub", "--env", "A=b", "--program", dir / "missing"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(read_file(dir / "setup"), "the previous installer");
    EXPECT_EQ(directory_entries(dir.path()), (std::vector<std::string>{"setup", "stub"}));
}

TEST(ZkpackCommandLine, HelpNamesEveryCommandAndOption) {
    const auto result = zkpack({"--help"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    for (const char* word : {"create", "list", "verify", "cat", "-o OUT", "--arch ARCH", "--stub FILE",
                             "--env NAME=VALUE", "--program FILE", "--record KIND FILE", "--welcome FILE", "--tree DIR",
                             "--archive FILE", "--script FILE", "-1 ... -9", "--quiet"}) {
        EXPECT_NE(result.out.find(word), std::string::npos) << word;
    }
    EXPECT_EQ(zkpack({"-h"}).out, result.out);
}

TEST(ZkpackCommandLine, UsageMistakesExitTwo) {
    struct Case {
        std::vector<std::string> args;
        std::string first_line;
    };
    const Case cases[] = {
        {{}, "zkpack: no command given\n"},
        {{"pack"}, "zkpack: unknown command 'pack'\n"},
        {{"list"}, "zkpack: list needs a package\n"},
        {{"sign", "-s", "k.key", "a", "b"}, "zkpack: unexpected argument 'b'\n"},
        {{"verify", "--pubkey", "k.pub", "a", "b"}, "zkpack: a signature is checked on one package at a time\n"},
        {{"verify", "--signature", "a.sig", "a"}, "zkpack: --signature needs --pubkey or -P\n"},
        {{"verify", "--pubkey", "k.pub", "-P", "RW", "a"}, "zkpack: give either --pubkey or -P, not both\n"},
        {{"sign", "-t", "two\nlines", "-s", "k.key", "a"},
         "zkpack: the trusted comment must be one line of at most 8192 bytes\n"},
        {{"sign", "a"}, "zkpack: sign needs -s SECFILE\n"},
        {{"keygen", "-W", "-p", "k.pub"}, "zkpack: keygen needs -p PUBFILE and -s SECFILE\n"},
    };
    for (const auto& c : cases) {
        const auto result = zkpack(c.args);
        EXPECT_EQ(result.err, c.first_line + TRY_HELP);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.status, 2);
    }
}

// GNU spellings: values joined by '=' or apart, bundled short options, '--'
// ending the options, abbreviations, and help after any command.
TEST(ZkpackCommandLine, OptionSpellings) {
    TempDir dir;
    write_file(dir / "stub", zkpacktest::elf_stub());
    write_file(dir / "input", "bytes");
    const std::string out = dir / "setup";
    const std::string stub = "--stub=" + (dir / "stub");
    ASSERT_EQ(zkpack({"create", "-o", dir / "-odd", stub, "--env", "A=b"}).status, 0);
    struct Case {
        std::vector<std::string> args;
        std::string out_start;  // the start of standard output
        std::string err;        // the first line of standard error
        int status;
    };
    const Case cases[] = {
        {{"create", "-o" + out, stub, "--env=A=b", "--program", dir / "input"}, "", "", 0},
        {{"create", "-qo", out, stub, "-j2", "-9", "--env", "A=b"}, "", "", 0},
        {{"create", "-q9j", "2", "--output-never", out}, "", "zkpack: unknown option '--output-never'\n", 2},
        {{"create", "-qx", "-o", out}, "", "zkpack: unknown option '-x'\n", 2},
        {{"create", "-o", out, stub, "--quiet=yes", "--env", "A=b"},
         "",
         "zkpack: option '--quiet' takes no argument\n",
         2},
        {{"create", "-o", out, stub, "--pro", "P", "--env", "A=b"}, "", "zkpack: option '--pro' is ambiguous\n", 2},
        {{"create", "-o", out, stub, "--rec=9", dir / "input", "--product-v", "1.0"}, "", "", 0},
        {{"create", "-o", out, stub, "--env", "A=b", "--", "--env", "C=d"},
         "",
         "zkpack: unexpected argument '--env'\n",
         2},
        {{"create", "-o", out, stub, "--record", "9"}, "", "zkpack: option '--record' needs an argument\n", 2},
        {{"create", "--bogus", "--help"}, "", "zkpack: unknown option '--bogus'\n", 2},
        {{"create", "--help", "--bogus"}, "Usage: zkpack create -o OUT", "", 0},
        {{"keygen", "-h"}, "Usage: zkpack keygen -p PUBFILE", "", 0},
        {{"cat", "--help"}, "Usage: zkpack cat PKG N\n", "", 0},
        {{"verify", "--", "-odd"}, "", "zkpack: -odd: cannot open: No such file or directory\n", 1},
        {{"list", "-odd"}, "", "zkpack: unknown option '-o'\n", 2},
        {{"verify", "--signature=x", "--pubkey", "k", "--", "-odd", "two"},
         "",
         "zkpack: a signature is checked on one package at a time\n",
         2},
    };
    for (const auto& c : cases) {
        const auto result = zkpack(c.args);
        const std::string args = ::testing::PrintToString(c.args);
        EXPECT_EQ(result.out.substr(0, c.out_start.size()), c.out_start) << args;
        EXPECT_EQ(result.err.substr(0, result.err.find('\n') + 1), c.err) << args;
        EXPECT_EQ(result.status, c.status) << args;
    }
    zktest::RunOptions in_dir;
    in_dir.cwd = dir.path();
    const auto odd = zktest::run(zktest::zkpack_path(), {"verify", "--", "-odd"}, in_dir);
    EXPECT_EQ(odd.err, "");
    EXPECT_EQ(odd.status, 0);
}

}  // namespace
