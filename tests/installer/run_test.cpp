// The installer run as a user runs it: packages built with zkpack, started
// under a controlled PATH and TEMP, their two output streams, exit status and
// effects checked apart.
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "package_util.h"
#include "support.h"

namespace {

using zktest::RunOptions;
using zktest::RunResult;
using zktest::without_progress;

using zkpacktest::CHECKSUM_FIELD;
using zkpacktest::HEADER_SIZE;
using zkpacktest::LENGTH_FIELD;

const char SUCCESS[] = "Installation successfully completed.\n";
const char FAILURE[] = "ERROR: Installation failed.\n";

std::string banner(const std::string& package) {
    return "ZKINSTALL v1.007 Copyright (c) Zelkor Software\n\n"
           "Verifying package file: " +
           package + "\nThis may take a moment...\n";
}

// What standard error holds once verification has read the whole file.
std::string verified(const std::string& package) { return banner(package) + "\n"; }

// Damaging a package after zkpack built it: the offset of its header, its
// checksum, and both fields made right again for the bytes as they stand.
size_t header_offset(const std::string& bytes) { return bytes.find(zkpacktest::marker()); }

uint32_t checksum_of(const std::string& bytes) { return zkpacktest::checksum_of(bytes, header_offset(bytes)); }

void set_length(std::string& bytes, uint32_t length) {
    zkpacktest::store32(bytes, header_offset(bytes) + LENGTH_FIELD, length);
}

void reseal(std::string& bytes) { zkpacktest::seal(bytes, header_offset(bytes)); }

class InstallerRun : public ::testing::Test {
protected:
    void SetUp() override { ::mkdir(temp.c_str(), 0755); }

    // Builds dir/pkg from zkpack's record options.
    std::string pack(const std::vector<std::string>& records) {
        std::vector<std::string> args{"create", "-o", package};
        args.insert(args.end(), records.begin(), records.end());
        const RunResult made = zktest::run(zktest::zkpack_path(), args);
        EXPECT_EQ(made.status, 0) << made.err;
        return package;
    }

    std::string program(const std::string& name, const std::string& body) {
        const std::string path = dir / name;
        zktest::write_file(path, "#!/bin/sh\n" + body, 0755);
        return path;
    }

    void damaged(void (*damage)(std::string&)) {
        std::string bytes = zktest::read_file(package);
        damage(bytes);
        zktest::write_file(package, bytes, 0755);
    }

    // Runs the package under its bare name, found along PATH.
    RunResult install(const std::vector<std::string>& args = {}, RunOptions options = {}) {
        options.env.emplace("PATH", dir.path() + ":/usr/bin:/bin");
        options.env.emplace("TEMP", temp);
        options.env.emplace("TMP", std::nullopt);
        options.env.emplace("TMPDIR", std::nullopt);
        if (options.argv0.empty()) options.argv0 = "pkg";
        RunResult result = zktest::run(package, args, options);
        result.err = without_progress(result.err);
        return result;
    }

    // Nothing of the run's private directory is left in TEMP.
    bool temp_is_empty() const { return zkpacktest::directory_entries(temp).empty(); }

    static RunOptions replying(const std::string& reply) {
        RunOptions options;
        options.input = reply;
        return options;
    }

    zktest::TempDir dir;
    const std::string package = dir / "pkg";
    const std::string temp = dir / "tmp";
    // As the streams show it.
    const std::string temp_file = temp + "/zkinstall.XXXXXX/zkinstall-temp.exe";
};

TEST_F(InstallerRun, EnvironmentRecordsReachLaterPrograms) {
    pack({"--env", "FIRST=one", "--program", program("show", "echo \"FIRST=$FIRST SECOND=$SECOND\"\n"), "--env",
          "SECOND=two", "--program", dir / "show"});
    const RunResult r = install();
    EXPECT_EQ(r.out, "FIRST=one\nFIRST=one SECOND=\nSECOND=two\nFIRST=one SECOND=two\n" + std::string(SUCCESS));
    EXPECT_EQ(r.err, verified(package));
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(temp_is_empty()) << "the private directory must be gone after the run";
}

// A failing program or script fails the installation and nothing after it
// runs, unless the package was built to say its statuses mean nothing; even
// then one that the shell could not start fails, with its reason.
TEST_F(InstallerRun, ExitStatusesOfProgramsAndScripts) {
    program("later", "echo later ran\n");
    const struct {
        const char* option;
        const char* body;
        bool ignored;
        const char* report;
    } cases[] = {
        {"--script", "echo script ran\nexit 3\n", false, "Setup script failed with exit status 3\n"},
        {"--program", "kill -TERM $$\n", false, "Program ended by signal 15\n"},
        {"--script", "kill -KILL $$\n", false, "Setup script ended by signal 9\n"},
        {"--program", "exit 1\n", false, "Program failed with exit status 1\n"},
        {"--script", "echo script ran\nexit 3\n", true, ""},
        {"--program", "kill -TERM $$\n", true, ""},
        {"--script", "no-such-command-here\n", true, "Setup script failed with exit status 127\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.option) + " " + c.body + (c.ignored ? " ignored" : ""));
        std::vector<std::string> records{c.option, program("failing", c.body), "--program", dir / "later"};
        if (c.ignored) records.insert(records.begin(), "--ignore-script-status");
        pack(records);
        const RunResult r = install({"--quiet"});
        const std::string ran = std::strstr(c.body, "echo") != nullptr ? "script ran\n" : "";
        const bool fails = *c.report != '\0';
        EXPECT_EQ(r.out, ran + c.report + (fails ? std::string(FAILURE) : "later ran\n" + std::string(SUCCESS)));
        EXPECT_EQ(r.status, fails ? 1 : 0);
        EXPECT_TRUE(temp_is_empty());
        const RunResult listed = zkpacktest::zkpack({"list", package});
        EXPECT_NE(listed.out.find(c.ignored ? "script status:     ignored\n" : "script status:     looked at\n"),
                  std::string::npos);
    }
}

TEST_F(InstallerRun, ProgramsStartWithDefaultSigpipe) {
    pack({"--program", program("pipe", "kill -PIPE $$\necho survived SIGPIPE\n")});
    const RunResult r = install();
    EXPECT_EQ(r.out, "Program ended by signal 13\n" + std::string(FAILURE))
        << "the installer ignores SIGPIPE for itself only";
    EXPECT_EQ(r.status, 1);
}

// zkpack makes none: a package without records comes from the tests' own builder.
TEST_F(InstallerRun, EmptyPackageSucceeds) {
    zktest::write_file(package, zkpacktest::build_package(zktest::read_file(zktest::zkinstall_path()), {}), 0755);
    const RunResult r = install();
    EXPECT_EQ(r.out, SUCCESS);
    EXPECT_EQ(r.err, verified(package));
    EXPECT_EQ(r.status, 0);
}

TEST_F(InstallerRun, ProgramPayloadsOfAnySize) {
    // One chunk of 4096 bytes and one of 1, with the "#!/bin/sh\n" line.
    const std::string big = "echo big\n" + std::string(4097 - 20, '#') + "\n";
    program("big", big);
    ASSERT_EQ(zktest::read_file(dir / "big").size(), 4097u);
    zktest::write_file(dir / "empty", "");
    pack({"--program", dir / "empty", "--program", dir / "big"});
    const RunResult r = install();
    EXPECT_EQ(r.out, "big\n" + std::string(SUCCESS));
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(temp_is_empty());
}

TEST_F(InstallerRun, StreamOnlyAppliesEnvironmentSilentlyAndStillRunsPrograms) {
    pack({"--env", "FIRST=one", "--program", program("show", "echo \"FIRST=$FIRST\"\n")});
    const RunResult r = install({"-gz"});
    EXPECT_EQ(r.out, "FIRST=one\n") << "only the program speaks; no echo, no final message";
    EXPECT_EQ(r.status, 0);
}

TEST_F(InstallerRun, EnvironmentPayloadOf1023BytesIsTakenAnd1024Refused) {
    const std::string accepted = "LONG=" + std::string(1023 - 5, 'v');
    zktest::write_file(dir / "1023", accepted);
    zktest::write_file(dir / "1024", accepted + "v");

    pack({"--record", "12", dir / "1023", "--program", program("length", "printf %s \"$LONG\" | wc -c\n")});
    RunResult r = install();
    EXPECT_EQ(r.out, accepted + "\n1018\n" + SUCCESS);
    EXPECT_EQ(r.status, 0);

    pack({"--env", "BEFORE=1", "--record", "12", dir / "1024"});
    r = install();
    EXPECT_EQ(r.out, "BEFORE=1\nEnvironment variable too long in setup file\n");
    EXPECT_EQ(r.err, verified(package));
    EXPECT_EQ(r.status, 1);
}

struct DamageCase {
    const char* what;
    void (*damage)(std::string&);
    std::string out;
    std::string err_after_banner;  // the banner's blank line included where verification got that far
};

void PrintTo(const DamageCase& c, std::ostream* os) { *os << c.what; }

class DamagedPackage : public InstallerRun, public ::testing::WithParamInterface<DamageCase> {};

TEST_P(DamagedPackage, IsRefused) {
    const DamageCase& c = GetParam();
    pack({"--env", "FIRST=one", "--env", "SECOND=two"});
    damaged(c.damage);
    const RunResult r = install();
    EXPECT_EQ(r.out, c.out) << c.what;
    EXPECT_EQ(r.err, banner(package) + c.err_after_banner) << c.what;
    EXPECT_EQ(r.status, 1) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DamagedPackage,
    ::testing::Values(DamageCase{"no marker", [](std::string& b) { b.erase(header_offset(b)); }, "",
                                 "\nCannot locate package payload.\n"},
                      DamageCase{"header without its NUL",
                                 [](std::string& b) {
                                     b[header_offset(b) + zkpacktest::marker().size()] = 'x';
                                     reseal(b);
                                 },
                                 "", "\nCannot locate package payload.\n"},
                      DamageCase{"header cut short",
                                 [](std::string& b) { b.resize(header_offset(b) + HEADER_SIZE - 1); }, "",
                                 "\nError reading package header\n"},
                      DamageCase{"unknown kind after valid records",
                                 [](std::string& b) {
                                     b += std::string("\0\0\0\2\3xy", 7);
                                     reseal(b);
                                 },
                                 "FIRST=one\nSECOND=two\n", "\nUnexpected error in package file\n"},
                      DamageCase{"record prefix cut short",
                                 [](std::string& b) {
                                     b += std::string("\0\0\0", 3);
                                     reseal(b);
                                 },
                                 "FIRST=one\nSECOND=two\n", "\nError extracting package -- premature EOF detected.\n"},
                      DamageCase{"environment payload shorter than its length",
                                 [](std::string& b) {
                                     b.resize(b.size() - 3);
                                     reseal(b);
                                 },
                                 "FIRST=one\n", "\nPremature EOF reading env var\n"}));

const char SIZE_REPORT[] =
    "\n*** Error:\n"
    "    Package is corrupt - incorrect size detected.\n"
    "    File size should be: %zu bytes\n"
    "    Actual size        : %zu bytes\n"
    "    Press <Enter> to continue: ";

const char CHECKSUM_REPORT[] =
    "\n*** Error:\n"
    "    Package is corrupt - file has failed checksum.\n"
    "    Expected CRC: %08x Calculated: %08x\n";

template <typename... Args>
std::string format(const char* format, Args... args) {
    std::array<char, 512> text;
    std::snprintf(text.data(), text.size(), format, args...);
    return text.data();
}

struct ReplyCase {
    std::string reply;
    bool goes_on;
};

void PrintTo(const ReplyCase& c, std::ostream* os) { *os << "reply \"" << c.reply << "\""; }

class ContinuePrompt : public InstallerRun, public ::testing::WithParamInterface<ReplyCase> {};

TEST_P(ContinuePrompt, SizeMismatchGoesOnOnlyOnBareEnter) {
    pack({"--env", "FIRST=one"});
    std::string bytes = zktest::read_file(package);
    set_length(bytes, static_cast<uint32_t>(bytes.size() - header_offset(bytes) + 10));
    zkpacktest::reseal(bytes, header_offset(bytes));
    zktest::write_file(package, bytes, 0755);

    const RunResult r = install({}, replying(GetParam().reply));
    const std::string report = format(SIZE_REPORT, bytes.size() + 10, bytes.size());
    EXPECT_EQ(r.out, GetParam().goes_on ? report + "FIRST=one\n" + SUCCESS : report);
    EXPECT_EQ(r.err, verified(package));
    EXPECT_EQ(r.status, GetParam().goes_on ? 0 : 1);
}

TEST_P(ContinuePrompt, ChecksumMismatchGoesOnOnlyOnBareEnter) {
    pack({"--env", "FIRST=one"});
    std::string bytes = zktest::read_file(package);
    const uint32_t stored = checksum_of(bytes);
    bytes[header_offset(bytes) + 100] ^= 0x55;  // a reserved byte: only the checksum notices
    const uint32_t computed = checksum_of(bytes);
    zktest::write_file(package, bytes, 0755);

    const RunResult r = install({}, replying(GetParam().reply));
    const std::string report = format(CHECKSUM_REPORT, stored, computed);
    EXPECT_EQ(r.out, GetParam().goes_on ? report + "FIRST=one\n" + SUCCESS : report);
    EXPECT_EQ(r.err, verified(package) + "    Press <Enter> to continue: ");
    EXPECT_EQ(r.status, GetParam().goes_on ? 0 : 1);
}

INSTANTIATE_TEST_SUITE_P(Replies, ContinuePrompt,
                         ::testing::Values(ReplyCase{"\n", true}, ReplyCase{"y\n", false}, ReplyCase{" \n", false},
                                           ReplyCase{"", false}));

TEST_F(InstallerRun, ProgramPayloadShorterThanItsLengthFailsTheRecord) {
    pack({"--env", "FIRST=one", "--program", program("touch", "touch " + zkpacktest::quoted(dir / "ran") + "\n")});
    damaged([](std::string& b) {
        b.resize(b.size() - 3);
        reseal(b);
    });
    const size_t length = zktest::read_file(dir / "touch").size();
    const RunResult r = install();
    EXPECT_EQ(r.out, "FIRST=one\nFailed to read " + std::to_string(length) + " bytes from source\n" + FAILURE);
    EXPECT_EQ(r.err, verified(package));
    EXPECT_EQ(r.status, 1);
    EXPECT_FALSE(zktest::exists(dir / "ran")) << "a failed copy is not run";
    EXPECT_TRUE(temp_is_empty()) << "and goes with the private directory";
}

// Without PATH (as under env -i) the search gives nothing, and the system
// names the running file instead; only where it cannot is there no way.
TEST_F(InstallerRun, WithoutPathTheSystemNamesTheRunningFile) {
    pack({"--env", "FIRST=one"});
    for (const std::string& argv0 : {std::string("pkg"), package}) {
        RunOptions options;
        options.argv0 = argv0;
        options.in_child = [] { ::clearenv(); };
        const RunResult r = install({}, options);
        EXPECT_EQ(r.out, "FIRST=one\n" + std::string(SUCCESS)) << argv0;
        EXPECT_EQ(r.err, verified(package)) << argv0;
        EXPECT_EQ(r.status, 0) << argv0;
    }

#ifdef ZKTEST_ASAN
    // The sanitizers' runtime itself needs /proc, so the rest cannot run here.
    GTEST_SKIP() << "a sanitized installer cannot run without /proc";
#endif
    RunOptions without_proc;
    without_proc.env["PATH"] = std::nullopt;
    without_proc.in_child = [] {
        if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::umount2("/proc", MNT_DETACH) != 0) {
            ::_exit(97);
        }
    };
    const RunResult r = install({}, without_proc);
    if (r.status == 97) GTEST_SKIP() << "cannot hide /proc from a run here";
    EXPECT_EQ(r.out,
              "Error: couldn't locate directory where the install binary is\n"
              "       being run from. Please ensure you are in the same directory\n"
              "       as pkg when you run it.\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 1);
}

TEST_F(InstallerRun, RelativeNameIsTakenFromTheWorkingDirectory) {
    pack({"--env", "FIRST=one"});
    ::mkdir((dir / "sub").c_str(), 0755);
    ASSERT_EQ(::rename(package.c_str(), (dir / "sub/pkg").c_str()), 0);
    for (const char* argv0 : {"./sub/pkg", "sub/pkg", "././sub/pkg"}) {
        RunOptions options;
        options.cwd = dir.path();
        options.argv0 = argv0;
        const RunResult r = zktest::run(dir / "sub/pkg", {}, options);
        EXPECT_EQ(r.out, "FIRST=one\n" + std::string(SUCCESS)) << argv0;
        EXPECT_EQ(without_progress(r.err), verified(dir / "sub/pkg")) << argv0;
        EXPECT_EQ(r.status, 0) << argv0;
    }
}

TEST_F(InstallerRun, TemporaryDirectoryComesFromTempThenTmpThenTmpdirThenSlashTmp) {
    pack({"--program", program("where", "echo \"$0\"\n")});
    RunOptions tmp_only;
    tmp_only.env["TEMP"] = std::nullopt;
    tmp_only.env["TMP"] = temp;
    RunResult r = install({}, tmp_only);
    EXPECT_EQ(r.out, temp_file + "\n" + SUCCESS);

    RunOptions tmpdir_only;
    tmpdir_only.env["TEMP"] = std::nullopt;
    tmpdir_only.env["TMPDIR"] = temp;
    r = install({}, tmpdir_only);
    EXPECT_EQ(r.out, temp_file + "\n" + SUCCESS);

    RunOptions none;
    none.env["TEMP"] = std::nullopt;
    none.cwd = temp;
    r = install({}, none);
    EXPECT_EQ(r.out, "/tmp/zkinstall.XXXXXX/zkinstall-temp.exe\n" + std::string(SUCCESS));
    EXPECT_TRUE(temp_is_empty());
}

// Root may write to "/": its run sees "/" read-only, through a private mount
// namespace, so that the suite never writes there. Status 97: no namespace.
void read_only_root() {
    if (::geteuid() != 0) return;
    if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        ::mount(nullptr, "/", nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0) {
        ::_exit(97);
    }
}

TEST_F(InstallerRun, EmptyTempIsTakenAsItStands) {
    pack({"--program", program("where", "echo \"$0\"\n")});
    RunOptions options;
    options.env["TEMP"] = "";
    options.env["TMP"] = temp;
    options.in_child = read_only_root;
    const RunResult r = install({}, options);
    if (r.status == 97) GTEST_SKIP() << "as root this needs a private mount namespace, which is not permitted here";
    EXPECT_EQ(r.out, "Error: cannot create temp output file: /zkinstall.XXXXXX\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(temp_is_empty()) << "TMP is not used when TEMP is set, even empty";
}

TEST_F(InstallerRun, MissingTempDirectoryEndsTheRun) {
    pack({"--env", "FIRST=one", "--program", program("touch", "touch \"$0.ran\"\n"), "--env", "LATER=1"});
    RunOptions options;
    options.env["TEMP"] = dir / "missing";
    const RunResult r = install({}, options);
    EXPECT_EQ(r.out, "FIRST=one\nError: cannot create temp output file: " + dir / "missing" + "/zkinstall.XXXXXX\n");
    EXPECT_EQ(r.err, verified(package));
    EXPECT_EQ(r.status, 1);
}

// A program the shell could not start fails the installation: no later
// record runs, and the failure shows in the exit status, with -gz too.
struct UnstartableCase {
    const char* what;
    std::string content;
    std::vector<std::string> args;
    std::string out;
};

void PrintTo(const UnstartableCase& c, std::ostream* os) { *os << c.what; }

class UnstartableProgram : public InstallerRun, public ::testing::WithParamInterface<UnstartableCase> {};

TEST_P(UnstartableProgram, FailsTheInstallation) {
    const UnstartableCase& c = GetParam();
    zktest::write_file(dir / "broken", c.content, 0755);
    pack({"--program", dir / "broken", "--env", "LATER=1"});
    const RunResult r = install(c.args);
    EXPECT_EQ(r.out, c.out) << c.what;
    EXPECT_EQ(r.err.substr(0, verified(package).size()), verified(package)) << c.what;
    EXPECT_NE(r.err.find(temp_file), std::string::npos) << c.what << ": the shell says why";
    EXPECT_EQ(r.status, 1) << c.what;
    EXPECT_TRUE(temp_is_empty()) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UnstartableProgram,
    ::testing::Values(UnstartableCase{"interpreter not found (127)",
                                      "#!/nonexistent/interpreter\n",
                                      {},
                                      "Program failed with exit status 127\n" + std::string(FAILURE)},
                      UnstartableCase{"not found, streaming", "#!/nonexistent/interpreter\n", {"-gz"}, ""},
                      UnstartableCase{"interpreter not executable (126)",
                                      "#!/\n",
                                      {},
                                      "Program failed with exit status 126\n" + std::string(FAILURE)}));

TEST_F(InstallerRun, TempWithBlanksAndShellCharactersRunsTheRightFile) {
    pack({"--program", program("where", "echo \"$0\"\n")});
    for (const char* name : {"with  blanks\tand tab", "a;touch pwned1;b'c\"$(touch pwned2)`touch pwned3`&|<>*?"}) {
        const std::string odd_temp = dir / name;
        ASSERT_EQ(::mkdir(odd_temp.c_str(), 0755), 0);
        RunOptions options;
        options.env["TEMP"] = odd_temp;
        options.cwd = dir.path();
        const RunResult r = install({}, options);
        EXPECT_EQ(r.out, odd_temp + "/zkinstall.XXXXXX/zkinstall-temp.exe\n" + SUCCESS);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(zkpacktest::directory_entries(odd_temp), std::vector<std::string>{});
    }
    for (const char* pwned : {"pwned1", "pwned2", "pwned3"}) {
        EXPECT_FALSE(zktest::exists(dir / pwned)) << "the shell ran a piece of the directory's name";
    }
}

// A directory of exactly `length` characters below the test's own.
std::string make_directory_of_length(const std::string& base, size_t length) {
    ::mkdir(base.c_str(), 0755);
    const size_t room = length - base.size();
    const size_t first = (room - 2) % 101 + 1;
    std::string path = base + "/" + std::string(first, 'f');
    ::mkdir(path.c_str(), 0755);
    while (path.size() < length) {
        path += "/" + std::string(100, 'd');
        ::mkdir(path.c_str(), 0755);
    }
    return path;
}

// The private directory and the file in it take 36 more bytes of the
// 1023 a path may hold.
TEST_F(InstallerRun, TempDirectoryTooLongForThePathFailsWithoutTruncating) {
    pack({"--program", program("hello", "echo hello\n")});
    const std::string longest = make_directory_of_length(dir.path(), 987);
    ASSERT_EQ(longest.size(), 987u);
    RunOptions fits;
    fits.env["TEMP"] = longest;
    EXPECT_EQ(install({}, fits).out, "hello\n" + std::string(SUCCESS));

    const std::string too_long = make_directory_of_length(dir / "x", 988);
    ASSERT_EQ(too_long.size(), 988u);
    RunOptions overlong;
    overlong.env["TEMP"] = too_long;
    const RunResult r = install({}, overlong);
    EXPECT_EQ(r.out, "Error: cannot create temp output file: " + too_long + "/zkinstall.XXXXXX\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(zkpacktest::directory_entries(too_long), std::vector<std::string>{}) << "nothing at a cut-off name";
}

TEST_F(InstallerRun, TempOnNoexecFileSystemFailsTheRecord) {
    const std::string noexec = dir / "noexec";
    ::mkdir(noexec.c_str(), 0755);
    if (::mount("tmpfs", noexec.c_str(), "tmpfs", MS_NOEXEC, nullptr) != 0) {
        GTEST_SKIP() << "cannot mount a noexec file system here: " << std::strerror(errno);
    }
    struct Unmount {
        std::string path;
        ~Unmount() { ::umount(path.c_str()); }
    } unmount{noexec};

    pack({"--program", program("hello", "echo hello\n"), "--env", "LATER=1"});
    RunOptions options;
    options.env["TEMP"] = noexec;
    const RunResult r = install({}, options);
    EXPECT_EQ(r.out, "Error: " + noexec + " does not allow programs to run; set TEMP to another directory\n" + FAILURE);
    EXPECT_EQ(r.err, verified(package));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(zkpacktest::directory_entries(noexec), std::vector<std::string>{});
}

}  // namespace
