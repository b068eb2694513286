// Runs on a machine shared with others: many installations at once with one
// TEMP, signals that end a run, closed standard streams, and a package file
// longer than its header can describe.
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "package_util.h"
#include "support.h"

namespace {

using zktest::RunOptions;
using zktest::RunResult;

const char SUCCESS[] = "Installation successfully completed.\n";
const char FAILURE[] = "ERROR: Installation failed.\n";

class SharedMachine : public ::testing::Test {
protected:
    void SetUp() override { ::mkdir(temp.c_str(), 0755); }

    std::string pack(const std::string& name, std::vector<std::string> records) {
        records.insert(records.begin(), {"create", "-o", dir / name});
        const RunResult made = zkpacktest::zkpack(records);
        EXPECT_EQ(made.status, 0) << made.err;
        return dir / name;
    }

    std::string file(const std::string& name, const std::string& content, mode_t mode = 0755) {
        zktest::write_file(dir / name, content, mode);
        return dir / name;
    }

    std::map<std::string, std::optional<std::string>> environment() const {
        return {
            {"PATH", dir.path() + ":/usr/bin:/bin"}, {"TEMP", temp}, {"TMP", std::nullopt}, {"TMPDIR", std::nullopt}};
    }

    RunResult install(const std::string& package, const std::vector<std::string>& args = {}, RunOptions options = {}) {
        for (const auto& [name, value] : environment()) options.env.emplace(name, value);
        if (options.argv0.empty()) options.argv0 = package.substr(package.rfind('/') + 1);
        RunResult result = zktest::run(package, args, options);
        result.err = zktest::without_progress(result.err);
        return result;
    }

    std::vector<std::string> left_in_temp() const { return zkpacktest::directory_entries(temp); }

    zktest::TempDir dir;
    const std::string temp = dir / "tmp";
    const std::string extract_line = "Extract script to " + temp + "/zkinstall.XXXXXX/zkinstall-temp.exe\n";
};

TEST_F(SharedMachine, TenInstallationsWithOneTempEachRunTheirOwnRecords) {
    constexpr int runs = 10;
    std::string command = "cd " + zkpacktest::quoted(dir.path()) + " && for i in";
    for (int i = 0; i < runs; ++i) {
        const std::string n = std::to_string(i);
        const std::string mark = zkpacktest::quoted(dir / ("mark" + n));
        pack("pkg" + n, {"--program", file("program" + n, "#!/bin/sh\necho program " + n + " >>" + mark + "\n"),
                         "--script", file("script" + n, "echo script " + n + " >>" + mark + "\n")});
        command += " " + n;
    }
    command += "; do (pkg$i </dev/null >out$i 2>/dev/null; echo $? >status$i) & done; wait";
    zktest::RunOptions options;
    options.env = environment();
    ASSERT_EQ(zkpacktest::shell(command, options).status, 0);

    for (int i = 0; i < runs; ++i) {
        const std::string n = std::to_string(i);
        EXPECT_EQ(zktest::read_file(dir / ("mark" + n)), "program " + n + "\nscript " + n + "\n") << n;
        EXPECT_EQ(zktest::masked_temp_dirs(zktest::read_file(dir / ("out" + n))), extract_line + SUCCESS) << n;
        EXPECT_EQ(zktest::read_file(dir / ("status" + n)), "0\n") << n;
    }
    EXPECT_EQ(left_in_temp(), std::vector<std::string>{});
}

// The signal comes once the program or script has started; later records
// must not run, and the installer ends by that signal.
struct SignalCase {
    const char* what;
    int signal_number;
    bool to_group;  // as Ctrl-C sends it, else to the installer alone
    std::string record;
    std::vector<std::string> args;
};

void PrintTo(const SignalCase& c, std::ostream* os) { *os << c.what; }

class EndedBySignal : public SharedMachine, public ::testing::WithParamInterface<SignalCase> {};

TEST_P(EndedBySignal, RemovesTheTemporaryDirectoryAndRunsNothingMore) {
    const SignalCase& c = GetParam();
    const bool script = c.record == "--script";
    const bool stream_only = !c.args.empty();
    const std::string started = dir / "started";
    const std::string waiting = std::string(script ? "" : "#!/bin/sh\n") + "touch " + zkpacktest::quoted(started) +
                                "\nexec sleep 30 >/dev/null 2>&1\n";
    const std::string package = pack("pkg", {c.record, file("wait", waiting), "--env", "LATER=1", "--program",
                                             file("later-program", "#!/bin/sh\ntouch later\n")});
    std::thread sender;
    RunOptions options;
    options.cwd = dir.path();
    options.in_child = [] { ::setpgid(0, 0); };
    options.started = [&](pid_t pid) {
        sender = std::thread([&c, pid, started] {
            for (int tries = 0; tries < 2000 && !zktest::exists(started); ++tries) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
            ::kill(c.to_group ? -pid : pid, c.signal_number);
        });
    };
    const RunResult r = install(package, c.args, options);
    sender.join();
    EXPECT_EQ(r.out, stream_only ? "" : (script ? extract_line : "") + FAILURE);
    EXPECT_EQ(r.status, 128 + c.signal_number);
    EXPECT_FALSE(zktest::exists(dir / "later"));
    EXPECT_EQ(left_in_temp(), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(
    Signals, EndedBySignal,
    ::testing::Values(SignalCase{"SIGTERM during a script", SIGTERM, false, "--script", {}},
                      SignalCase{"SIGHUP during a script", SIGHUP, false, "--script", {}},
                      SignalCase{"SIGINT to the group during a script", SIGINT, true, "--script", {}},
                      SignalCase{"SIGINT to the group during a program", SIGINT, true, "--program", {}},
                      SignalCase{"SIGTERM during a program under -gz", SIGTERM, false, "--program", {"-gz"}}));

// A file size limit met in the middle of a file ends the run by SIGXFSZ; the
// file's data went under a temporary name, which must not stay behind.
TEST_F(SharedMachine, SignalInTheMiddleOfAFileLeavesNoPartOfIt) {
    ::mkdir((dir / "product").c_str(), 0755);
    file("product/big", std::string(256 * 1024, 'x'), 0644);
    const std::string package = pack("pkg", {"--tree", dir / "product"});
    ::mkdir((dir / "inst").c_str(), 0755);
    RunOptions options;
    options.cwd = dir / "inst";
    options.in_child = [] {
        const struct rlimit limit { 64 * 1024, RLIM_INFINITY };
        ::setrlimit(RLIMIT_FSIZE, &limit);
    };
    const RunResult r = install(package, {}, options);
    EXPECT_EQ(r.status, 128 + SIGXFSZ);
    EXPECT_EQ(r.out.substr(r.out.size() - std::string(FAILURE).size()), FAILURE) << r.out;
    EXPECT_EQ(zkpacktest::directory_entries(dir / "inst"), std::vector<std::string>{});
    EXPECT_EQ(left_in_temp(), std::vector<std::string>{});
}

// With standard input closed the package must not become the replies: the
// program sees /dev/null, and a prompt meets the end of input.
TEST_F(SharedMachine, ClosedStandardInputIsTheEndOfInput) {
    std::string package = pack("pkg", {"--program", file("reader", "#!/bin/sh\nreadlink /proc/self/fd/0\nwc -c\n")});
    RunOptions closed;
    closed.in_child = [] { ::close(STDIN_FILENO); };
    RunResult r = install(package, {}, closed);
    EXPECT_EQ(r.out, "/dev/null\n0\n" + std::string(SUCCESS));
    EXPECT_EQ(r.status, 0);

    // One more byte than the header says: the size prompt reads its reply.
    std::string bytes = zktest::read_file(package);
    zktest::write_file(package, bytes + "\n", 0755);
    r = install(package, {}, closed);
    EXPECT_NE(r.out.find("Press <Enter> to continue: "), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("/dev/null"), std::string::npos) << "the run ends at the prompt";
    EXPECT_EQ(r.status, 1);
}

// Four GiB more than the header's length: equal to it modulo 2^32, which a
// 32-bit comparison would take for the right size. The file is sparse, on a
// tmpfs where one can be mounted: there its holes read without the disk's
// file system filling four GiB of page cache with zeros.
TEST_F(SharedMachine, PackageFileOf4GiBAndMoreIsTheWrongSize) {
#ifdef ZKTEST_ASAN
    GTEST_SKIP() << "the checksum pass over 4 GiB of holes: time under the sanitizers, the same code as the normal build's";
#endif
    const std::string built = pack("pkg", {"--env", "FIRST=one"});
    const std::string bytes = zktest::read_file(built);
    ::mkdir((dir / "big").c_str(), 0755);
    const zktest::Tmpfs holes(dir / "big", 0, "size=64m");
    const std::string package = holes.mounted() ? dir / "big/pkg" : built;
    zktest::write_file(package, bytes, 0755);
    const uint64_t size = bytes.size();
    const uint64_t grown = size + (uint64_t{1} << 32);
    if (::truncate(package.c_str(), static_cast<off_t>(grown)) != 0) GTEST_SKIP() << "no file of 4 GiB here";
    RunOptions by_path;
    by_path.argv0 = package;  // the tmpfs is not on PATH
    const RunResult r = install(package, {}, by_path);
    ::truncate(package.c_str(), 0);
    EXPECT_EQ(r.out, zkpacktest::wrong_size_report(size, grown));
    EXPECT_EQ(r.status, 1);
}

}  // namespace
