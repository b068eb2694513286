// Root runs a package on a machine where another user wants root's rights:
// the package file rewritten after its check, temporary directories that
// others can change, signals at any moment, too few descriptors for a shell.
// The other user is 65534 where the tests run as root.
#include <sys/resource.h>
#include <sys/stat.h>
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
using zktest::write_file;

const char SUCCESS[] = "Installation successfully completed.\n";
const char FAILURE[] = "ERROR: Installation failed.\n";
constexpr uid_t OTHER_USER = 65534;
constexpr char EMULATOR[] = "/usr/bin/qemu-aarch64-static";

// Of the other user, where we may give files away.
void give_away(const std::string& path) {
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown(path.c_str(), OTHER_USER, OTHER_USER), 0) << path;
    }
}

// A shell command run as the other user.
std::string as_other_user(const std::string& command) {
    return ::geteuid() == 0 ? "setpriv --reuid=65534 --regid=65534 --clear-groups " + command : command;
}

class HostileUser : public ::testing::Test {
protected:
    void SetUp() override {
        ::chmod(dir.path().c_str(), 0755);  // the other user reaches what they own in it
        ::mkdir(temp.c_str(), 0700);
    }

    std::string pack(const std::string& path, std::vector<std::string> args) {
        args.insert(args.begin(), {"create", "-o", path});
        const RunResult made = zkpacktest::zkpack(args);
        EXPECT_EQ(made.status, 0) << made.err;
        return path;
    }

    std::string file(const std::string& name, const std::string& content, mode_t mode = 0755) {
        write_file(dir / name, content, mode);
        return dir / name;
    }

    std::string mkdir(const std::string& name, mode_t mode) {
        ::mkdir((dir / name).c_str(), mode);
        ::chmod((dir / name).c_str(), mode);
        return dir / name;
    }

    RunResult install(const std::string& program, const std::vector<std::string>& args, RunOptions options = {}) {
        for (const auto& [name, value] :
             std::map<std::string, std::optional<std::string>>{{"PATH", dir.path() + ":/usr/bin:/bin"},
                                                               {"TEMP", temp},
                                                               {"TMP", std::nullopt},
                                                               {"TMPDIR", std::nullopt}}) {
            options.env.emplace(name, value);
        }
        if (options.argv0.empty()) options.argv0 = "setup";
        RunResult result = zktest::run(program, args, options);
        result.err = zktest::without_progress(result.err);
        return result;
    }

    zktest::TempDir dir;
    const std::string temp = dir / "tmp";
};

// The first program plays the other user: it rewrites the second one's
// payload in the file the installer would read again, after the checksum
// and the signature have passed. Natively that is the name found along
// PATH, which the user swapped for an identical copy once the kernel had
// started the real file; under qemu-user, which does not write-protect the
// program it runs, the running file itself.
TEST_F(HostileUser, PackageRewrittenAfterItsCheckNeverRunsTheNewBytes) {
    ASSERT_EQ(zkpacktest::zkpack({"keygen", "-W", "-p", dir / "z.pub", "-s", dir / "z.key"}).status, 0);
    const std::string attack = file("attack", "echo ATTACKER RUNS!!");
    const std::string offset_file = dir / "offset";
    const std::vector<std::string> records = {
        "--program",
        file("rewrite", "#!/bin/sh\n" +
                            as_other_user("dd if=" + attack + " of=\"$TARGET\" bs=1 seek=$(cat " + offset_file +
                                          ") conv=notrunc status=none") +
                            "\n"),
        "--program", file("second", "#!/bin/sh\necho original second\n")};
    struct Attack {
        const char* what;
        std::string arch;
        bool signed_package;
        bool swapped;
    };
    std::vector<Attack> attacks{{"swapped name", "x86_64", false, true},
                                {"swapped name, signed", "x86_64", true, true}};
    if (zktest::exists(EMULATOR) && zktest::exists(zktest::installer_program_path("aarch64"))) {
        attacks.push_back({"qemu-user, signed", "aarch64", true, false});
    }
    for (const Attack& a : attacks) {
        ::mkdir((dir / "run").c_str(), 0755);
        const std::string running = dir / "run/setup";
        std::vector<std::string> args = records;
        args.insert(args.begin(), {"--arch", a.arch});
        if (a.signed_package) args.insert(args.begin(), {"--sign", dir / "z.key"});
        const std::string bytes = zktest::read_file(pack(running, args));
        write_file(offset_file, std::to_string(bytes.find("echo original second")));
        // The name the installer finds: the copy, in the user's directory.
        const std::string found = a.swapped ? dir / "setup" : running;
        if (a.swapped) {
            write_file(found, bytes, 0755);
            if (a.signed_package) write_file(found + ".minisig", zktest::read_file(running + ".minisig"));
        }
        give_away(found);

        RunOptions options;
        options.env["TARGET"] = found;
        options.env["PATH"] = (a.swapped ? dir.path() : dir / "run") + ":/usr/bin:/bin";
        const std::vector<std::string> check =
            a.signed_package ? std::vector<std::string>{"--pubkey", dir / "z.pub"} : std::vector<std::string>{};
        const RunResult r = a.arch == "aarch64" ? install(
                                                      EMULATOR,
                                                      [&] {
                                                          std::vector<std::string> emulated{"-0", "setup", running};
                                                          emulated.insert(emulated.end(), check.begin(), check.end());
                                                          return emulated;
                                                      }(),
                                                      options)
                                                : install(running, check, options);
        EXPECT_NE(zktest::read_file(found).find("ATTACKER RUNS!!"), std::string::npos) << a.what << ": rewritten";
        EXPECT_EQ(r.out, "original second\n" + std::string(SUCCESS)) << a.what;
        EXPECT_EQ(r.status, 0) << a.what;
    }
}

// A directory that another user may rename things in, or owns, is passed
// over with a notice, and what is in it stays untouched; a sticky one is
// taken silently.
TEST_F(HostileUser, TempThatOthersCanChangeIsPassedOver) {
    const std::string where = dir / "where";
    pack(dir / "setup", {"--program", file("program", "#!/bin/sh\necho \"$0\" >" + where + "\n")});
    const std::string open_to_all = mkdir("open", 0777);
    const std::string victim = mkdir("open/zkinstall.victim", 0700);
    write_file(victim + "/theirs", "kept");
    const std::string theirs = mkdir("theirs", 0755);
    give_away(theirs);
    const std::string sticky = mkdir("sticky", 01777);

    struct TempCase {
        std::map<std::string, std::optional<std::string>> env;
        std::string err;
        std::string used;
    };
    std::vector<TempCase> cases{
        {{{"TEMP", open_to_all}, {"TMP", temp}},
         "Ignoring TEMP=" + open_to_all + ": " + open_to_all + " is writable by other users and not sticky\n",
         temp},
        {{{"TEMP", std::nullopt}, {"TMPDIR", open_to_all + "/."}},
         "Ignoring TMPDIR=" + open_to_all + "/.: " + open_to_all + " is writable by other users and not sticky\n",
         "/tmp"},
        {{{"TEMP", sticky}}, "", sticky},
    };
    if (::geteuid() == 0) {
        cases.push_back({{{"TEMP", theirs}, {"TMP", temp}},
                         "Ignoring TEMP=" + theirs + ": " + theirs + " is owned by user 65534\n",
                         temp});
    }
    for (const TempCase& c : cases) {
        RunOptions options;
        options.env = c.env;
        const RunResult r = install(dir / "setup", {}, options);
        EXPECT_EQ(r.out, SUCCESS) << c.err;
        EXPECT_EQ(r.err.substr(0, c.err.size()), c.err);
        EXPECT_EQ(r.status, 0) << c.err;
        const std::string ran = zktest::read_file(where);
        EXPECT_EQ(ran.rfind(c.used + "/zkinstall.", 0), 0u) << ran;
        EXPECT_FALSE(zktest::exists(ran.substr(0, ran.rfind('/')))) << ran << ": removed";
    }
    EXPECT_EQ(zkpacktest::directory_entries(open_to_all), std::vector<std::string>{"zkinstall.victim"});
    EXPECT_EQ(zktest::read_file(victim + "/theirs"), "kept");
    EXPECT_EQ(zkpacktest::directory_entries(theirs), std::vector<std::string>{});
}

// As under sudo's default environment: no temporary variable at all, and an
// install directory of the other user's. Two welcome texts change the
// working directory twice; the private directory stays where it was made.
TEST_F(HostileUser, WithoutTemporaryVariablesTmpServesNeverTheInstallDirectory) {
    const std::string where = dir / "where";
    const std::string welcome = file("welcome", "Welcome\n", 0644);
    pack(dir / "setup", {"--welcome", welcome, "--program", file("program", "#!/bin/sh\necho \"$0\" >>" + where + "\n"),
                         "--welcome", welcome, "--script", file("script", "echo \"$0\" >>" + where + "\n")});
    const std::string first = mkdir("first", 0755);
    const std::string second = mkdir("second", 0755);
    give_away(first);
    give_away(second);
    RunOptions options;
    options.env = {{"TEMP", std::nullopt}};
    options.input = first + "\n" + second + "\n";
    options.cwd = dir.path();
    const RunResult r = install(dir / "setup", {}, options);
    EXPECT_EQ(r.out.substr(r.out.size() - std::string(SUCCESS).size()), SUCCESS) << r.out;
    EXPECT_EQ(r.status, 0);
    const std::string ran = zktest::read_file(where);
    const std::string private_dir = ran.substr(0, ran.find("/zkinstall-temp.exe"));
    EXPECT_EQ(private_dir.rfind("/tmp/zkinstall.", 0), 0u) << ran;
    EXPECT_EQ(ran, private_dir + "/zkinstall-temp.exe\n" + private_dir + "/zkinstall-temp.exe\n");
    EXPECT_FALSE(zktest::exists(private_dir));
    for (const std::string& place : {first, second, dir.path()}) {
        for (const std::string& name : zkpacktest::directory_entries(place)) {
            EXPECT_EQ(name.find("zkinstall."), std::string::npos) << place << "/" << name;
        }
    }
}

// Signals at every moment of an extraction, with one decoding thread and
// several: no temporary name is left in the install directory, and no
// private directory in TEMP.
TEST_F(HostileUser, SignalsDuringExtractionLeaveNoName) {
    const std::string tree = mkdir("tree", 0755);
    for (int d = 0; d < 20; ++d) {
        const std::string sub = tree + "/d" + std::to_string(d);
        ::mkdir(sub.c_str(), 0755);
        for (int f = 0; f < 50; ++f) write_file(sub + "/f" + std::to_string(f), std::string(300 * f, 'x'));
    }
    const std::string target = dir / "inst";
    int ended_by_signal = 0;
    // bzip2 on one thread and on the block-parallel pump; zstd with its
    // files written on a thread of their own.
    const std::pair<const char*, const char*> runs[] = {{"bzip2", "1"}, {"bzip2", "4"}, {"zstd:3", "4"}};
    for (const auto& [compression, threads] : runs) {
        pack(dir / "setup", {"--compress", compression, "--tree", tree});
        for (int run = 0; run < 25; ++run) {
            zkpacktest::shell("rm -rf " + zkpacktest::quoted(target));
            RunOptions options;
            options.env["ZKINSTALL_THREADS"] = threads;
            const auto delay = std::chrono::microseconds(2000 + 1500 * run);
            options.started = [delay](pid_t pid) {
                std::this_thread::sleep_for(delay);
                ::kill(pid, SIGTERM);
            };
            const RunResult r = install(dir / "setup", {"--target", target, "--quiet"}, options);
            if (r.status == 128 + SIGTERM) ++ended_by_signal;
            const RunResult left = zkpacktest::shell("find " + zkpacktest::quoted(target) + " -name '.zkinstall-*'");
            EXPECT_EQ(left.out, "") << compression << ", " << threads << " threads, run " << run;
            EXPECT_EQ(zkpacktest::directory_entries(temp), std::vector<std::string>{});
        }
    }
    EXPECT_GT(ended_by_signal, 10) << "the signals came during the extraction";
}

// With descriptors too few for the shell to read a script, the program is
// not started, and the run says so and fails.
TEST_F(HostileUser, TooFewDescriptorsForAShellFailTheRecord) {
    pack(dir / "setup", {"--program", file("program", "#!/bin/sh\necho ran\n"), "--env", "LATER=1"});
    RunOptions options;
    options.in_child = [] {
        const struct rlimit limit { 8, 8 };
        ::setrlimit(RLIMIT_NOFILE, &limit);
    };
    const RunResult r = install(dir / "setup", {}, options);
    EXPECT_EQ(r.out, "Error: too few file descriptors (ulimit -n) to run " + temp +
                         "/zkinstall.XXXXXX/zkinstall-temp.exe\n" + FAILURE)
        << "a program that cannot run ends the installation: no later record runs";
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(zkpacktest::directory_entries(temp), std::vector<std::string>{});
}

}  // namespace
