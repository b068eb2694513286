// The executable search, symbolic-link resolution, "~" expansion and the
// working-directory cache, on real files in a scratch directory.
#include <zk/zk.h>
#include "file/file_internal.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <functional>
#include <string>

#include "support.h"
#include "take.h"

using zktest::take;

namespace {

std::string physical_cwd() {
    char buffer[PATH_MAX];
    return ::getcwd(buffer, sizeof buffer) != nullptr ? buffer : "";
}

void make_dir(const std::string& path) { ASSERT_EQ(::mkdir(path.c_str(), 0755), 0) << path; }

void make_link(const std::string& target, const std::string& path) {
    ASSERT_EQ(::symlink(target.c_str(), path.c_str()), 0) << path;
}

void set_mtime(const std::string& path, time_t seconds) {
    const struct timeval times[2] = {{seconds, 0}, {seconds, 0}};
    ASSERT_EQ(::utimes(path.c_str(), times), 0) << path;
}

// Points ~ and ~user at another password file for one scope.
class PasswordFileGuard {
public:
    explicit PasswordFileGuard(const char* path) : saved_(zk::password_file) { zk::password_file = path; }
    ~PasswordFileGuard() { zk::password_file = saved_; }
    PasswordFileGuard(const PasswordFileGuard&) = delete;
    PasswordFileGuard& operator=(const PasswordFileGuard&) = delete;

private:
    const char* saved_;
};

// Every test starts in a scratch directory with a fresh working-directory
// and home-directory cache, so that each may set its own HOME.
class ExecPath : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(::chdir(dir.path().c_str()), 0);
        cwd = physical_cwd();
        zk::get_cwd_changed_directory();
        zk::forget_home_directory();
    }
    void TearDown() override {
        zk::get_cwd_changed_directory();
        zk::forget_home_directory();
    }
    std::string at(const std::string& name) const { return cwd + "/" + name; }

    zktest::CwdGuard cwd_guard;
    zktest::TempDir dir;
    std::string cwd;
};

TEST_F(ExecPath, NullPathListEndsTheSearchBeforeTheName) {
    EXPECT_EQ(take(zk::find_exec_path(nullptr, "/bin/sh")), std::nullopt);
    zktest::write_file(at("prog"), "", 0755);
    EXPECT_EQ(take(zk::find_exec_path(nullptr, "prog")), std::nullopt);
    EXPECT_EQ(take(zk::find_exec_path2(nullptr, "./prog", 1)), std::nullopt);
}

TEST_F(ExecPath, NameWithDelimiterIgnoresThePathList) {
    make_dir(at("sub"));
    zktest::write_file(at("sub/prog"), "", 0755);
    zktest::write_file(at("prog"), "", 0755);
    EXPECT_EQ(take(zk::find_exec_path("/nowhere", at("sub/prog").c_str())), at("sub/prog"));
    EXPECT_EQ(take(zk::find_exec_path("", "./prog")), at("prog"));
    EXPECT_EQ(take(zk::find_exec_path("", "././prog")), at("prog"));
    EXPECT_EQ(take(zk::find_exec_path("", "sub/prog")), at("sub/prog"));
    EXPECT_EQ(take(zk::find_exec_path("", "./sub/../prog")), at("sub/../prog"));
    EXPECT_EQ(take(zk::find_exec_path("", "sub/missing")), std::nullopt);
}

TEST_F(ExecPath, EmptyOrDotEntryGivesTheBareName) {
    zktest::write_file(at("zk-test-prog"), "", 0755);
    EXPECT_EQ(take(zk::find_exec_path("/nonexistent-a::/nonexistent-b", "zk-test-prog")), "zk-test-prog");
    EXPECT_EQ(take(zk::find_exec_path("/nonexistent-a:.", "zk-test-prog")), "zk-test-prog");
    EXPECT_EQ(take(zk::find_exec_path("/nonexistent-a:", "zk-test-prog")), "zk-test-prog");
    EXPECT_EQ(take(zk::find_exec_path("/nonexistent-a", "zk-test-prog")), std::nullopt);
}

TEST_F(ExecPath, FirstUsableEntryWins) {
    for (const char* sub : {"d1", "d2", "d3", "d4"}) make_dir(at(sub));
    make_dir(at("d1/prog"));
    zktest::write_file(at("d2/prog"), "", 0644);
    zktest::write_file(at("d3/prog"), "", 0700);
    zktest::write_file(at("d4/prog"), "", 0755);
    const std::string list = at("d1") + ":" + at("d2") + ":" + at("d3") + ":" + at("d4");
    EXPECT_EQ(take(zk::find_exec_path(list.c_str(), "prog")), at("d3/prog"));
    // Any execute bit will do, not only the owner's.
    ::chmod(at("d3/prog").c_str(), 0641);
    EXPECT_EQ(take(zk::find_exec_path(list.c_str(), "prog")), at("d3/prog"));
    ::chmod(at("d3/prog").c_str(), 0640);
    EXPECT_EQ(take(zk::find_exec_path(list.c_str(), "prog")), at("d4/prog"));
}

TEST_F(ExecPath, QuotedAndTildeEntries) {
    make_dir(at("my tools"));
    zktest::write_file(at("my tools/prog"), "", 0755);
    const std::string quoted = "/nonexistent:\"" + at("my tools") + "\"";
    EXPECT_EQ(take(zk::find_exec_path(quoted.c_str(), "prog")), at("my tools/prog"));

    make_dir(at("home"));
    make_dir(at("home/bin"));
    zktest::write_file(at("home/bin/other"), "", 0755);
    zktest::EnvGuard home("HOME", at("home"));
    EXPECT_EQ(take(zk::find_exec_path("~/bin", "other")), at("home/bin/other"));
    EXPECT_EQ(take(zk::find_exec_path("\"~/bin\"", "other")), at("home/bin/other"));
}

TEST_F(ExecPath, SymbolicLinksAreResolvedByName) {
    make_dir(at("bin"));
    make_dir(at("lib"));
    zktest::write_file(at("lib/prog"), "", 0755);
    zktest::write_file(at("lib/data"), "", 0644);
    make_link("../lib/prog", at("bin/relative"));
    make_link(at("lib/prog"), at("bin/absolute"));
    make_link("relative", at("bin/chain"));
    make_link("../lib/data", at("bin/data"));
    make_link("lib/prog", at("top"));
    struct Case {
        const char* name;
        std::optional<std::string> expected;
    };
    const Case cases[] = {
        {"bin/relative", at("bin/../lib/prog")},
        {"bin/absolute", at("lib/prog")},
        {"bin/chain", at("bin/../lib/prog")},
        // The target's mode decides, not the link's.
        {"bin/data", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(take(zk::find_exec_path("", at(c.name).c_str())), c.expected);
    }
    // A link without a directory in its name is replaced whole by its target.
    EXPECT_EQ(take(zk::find_exec_path(".", "top")), "lib/prog");
}

TEST_F(ExecPath, LinkChainStopsAfterOneHundredLinks) {
    zktest::write_file(at("real"), "", 0755);
    struct Case {
        int links;
        std::string expected;
    };
    const Case cases[] = {{1, "real"}, {100, "real"}, {101, "c101/l100"}, {105, "c105/l100"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.links);
        const std::string chain = "c" + std::to_string(c.links);
        make_dir(at(chain));
        for (int i = 0; i < c.links; ++i) {
            const std::string next = i + 1 == c.links ? "../real" : "l" + std::to_string(i + 1);
            make_link(next, at(chain + "/l" + std::to_string(i)));
        }
        struct stat status;
        char* resolved = zk::follow_symbolic_links(zk::chk_strdup((chain + "/l0").c_str()), &status);
        const std::string expected = c.expected == "real" ? chain + "/../real" : c.expected;
        EXPECT_EQ(take(resolved), expected);
        EXPECT_EQ(S_ISLNK(status.st_mode), c.links > 100);
    }
}

TEST_F(ExecPath, LinkTargetTooLongForTheBufferKeepsTheLinkName) {
    const std::string fits(1023, 'a');
    const std::string too_long(1024, 'b');
    make_link(fits, at("fits"));
    make_link(too_long, at("long"));
    struct stat status;
    EXPECT_EQ(take(zk::follow_symbolic_links(zk::chk_strdup("fits"), &status)), fits);
    EXPECT_EQ(take(zk::follow_symbolic_links(zk::chk_strdup("long"), &status)), "long");
    EXPECT_TRUE(S_ISLNK(status.st_mode));
}

TEST_F(ExecPath, TestFileDropsOneDotSlashPrefix) {
    zktest::write_file(at("prog"), "", 0755);
    struct stat status;
    EXPECT_EQ(take(zk::test_file("./prog", 0, &status)), "prog");
    EXPECT_EQ(take(zk::test_file("././prog", 0, &status)), "./prog");
    EXPECT_EQ(take(zk::test_file(".", 0, &status)), std::nullopt);
}

// Runs `check` in a child that cannot read every file: as root the child
// becomes the unprivileged user 65534. Returns its exit code, or 2 when that
// user cannot reach the scratch directory.
int run_unprivileged(const std::string& reachable, const std::function<bool()>& check) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(3);
        if (::access(reachable.c_str(), X_OK) != 0) ::_exit(2);
        ::_exit(check() ? 0 : 1);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 4;
}

TEST_F(ExecPath, UnreadableFileIsSkipped) {
    // Root reads every file, so the search runs in an unprivileged child.
    ::chmod(cwd.c_str(), 0755);
    make_dir(at("d1"));
    make_dir(at("d2"));
    zktest::write_file(at("d1/prog"), "", 0311);
    zktest::write_file(at("d2/prog"), "", 0755);
    const std::string list = at("d1") + ":" + at("d2");
    const int code =
        run_unprivileged(cwd, [&] { return take(zk::find_exec_path(list.c_str(), "prog")) == at("d2/prog"); });
    if (code == 2) GTEST_SKIP() << "the unprivileged user cannot reach " << cwd;
    EXPECT_EQ(code, 0);
}

TEST_F(ExecPath, ExecutableMtimeOfNameWithDelimiter) {
    make_dir(at("bin"));
    zktest::write_file(at("bin/x"), "", 0644);
    set_mtime(at("bin/x"), 1000000);
    char* dir = nullptr;
    EXPECT_EQ(zk::find_executable_mtime("bin/x", &dir), 1000000);
    EXPECT_EQ(take(dir), "bin");
    dir = nullptr;
    EXPECT_EQ(zk::find_executable_mtime("bin/missing", &dir), 0);
    EXPECT_EQ(take(dir), "bin");
    dir = nullptr;
    EXPECT_EQ(zk::find_executable_mtime("/nonexistent-zk", &dir), 0);
    EXPECT_EQ(take(dir), "");
    EXPECT_EQ(zk::find_executable_mtime("bin/x", nullptr), 1000000);
}

TEST_F(ExecPath, ExecutableMtimeNeedsTheOwnerExecuteBit) {
    for (const char* sub : {"a", "b", "c", "d"}) make_dir(at(sub));
    make_dir(at("a/prog"));
    zktest::write_file(at("b/prog"), "", 0611);
    zktest::write_file(at("c/prog"), "", 0100);
    zktest::write_file(at("d/prog"), "", 0755);
    set_mtime(at("c/prog"), 3000);
    set_mtime(at("d/prog"), 4000);
    zktest::EnvGuard path("PATH", at("a") + ":" + at("b") + ":" + at("c") + ":" + at("d"));
    zktest::EnvGuard zkpath("ZKPATH", std::nullopt);
    char* dir = zk::chk_strdup("previous");
    EXPECT_EQ(zk::find_executable_mtime("prog", &dir), 3000);
    EXPECT_EQ(take(dir), at("c"));

    dir = nullptr;
    EXPECT_EQ(zk::find_executable_mtime("absent", &dir), 0);
    EXPECT_EQ(dir, nullptr);
}

TEST_F(ExecPath, ExecutableMtimeFallsBackToZkpath) {
    make_dir(at("home"));
    make_dir(at("home/tools"));
    zktest::write_file(at("home/tools/prog"), "", 0755);
    set_mtime(at("home/tools/prog"), 5000);
    zktest::write_file(at("here"), "", 0755);
    set_mtime(at("here"), 6000);
    zktest::EnvGuard home("HOME", at("home"));
    zktest::EnvGuard path("PATH", "/nonexistent-zk");
    zktest::EnvGuard zkpath("ZKPATH", "~/tools::");
    char* dir = nullptr;
    EXPECT_EQ(zk::find_executable_mtime("prog", &dir), 5000);
    EXPECT_EQ(take(dir), at("home") + "/tools");
    dir = nullptr;
    EXPECT_EQ(zk::find_executable_mtime("here", &dir), 6000);
    EXPECT_EQ(take(dir), ".");
    EXPECT_EQ(zk::search_path_mtime(nullptr, "here", nullptr), 0);
}

// "~user" is looked up in the password file itself, never through the name
// service: a prefix of a name is no match, broken lines are passed over.
TEST_F(ExecPath, TildeExpansion) {
    const std::string passwd = at("passwd");
    zktest::write_file(passwd,
                       "builder:x:1000:1000::/home/builder:/bin/sh\n"
                       "not a password line\n"
                       "build:x:1001:1001::/srv/build:/bin/sh\n");
    PasswordFileGuard file(passwd.c_str());
    zktest::EnvGuard home("HOME", "/home/someone");
    struct Case {
        const char* name;
        std::string expected;
    };
    const Case cases[] = {
        {"~", "/home/someone/"},
        {"~/x", "/home/someone/x"},
        {"~//x", "/home/someone//x"},
        {"x~", "x~"},
        {"", ""},
        {"~nosuchuser-zk/x", "~nosuchuser-zk/x"},
        {"~nosuchuser-zk", "~nosuchuser-zk"},
        {"~build", "/srv/build/"},
        {"~builder/a/b", "/home/builder/a/b"},
        {"~buil/a", "~buil/a"},
        {"~root", "~root"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(take(zk::tilde_expand(c.name)), c.expected);
    }
}

TEST_F(ExecPath, TildeUserFromTheSystemPasswordFile) {
    const struct passwd* root = ::getpwnam("root");
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(take(zk::tilde_expand("~root/a")), std::string(root->pw_dir) + "/a");
}

TEST_F(ExecPath, HomeDirectoryIsCachedOnce) {
    {
        zktest::EnvGuard home("HOME", "/");
        EXPECT_EQ(take(zk::tilde_expand("~/rest")), "//rest");
    }
    zktest::EnvGuard home("HOME", "/elsewhere");
    EXPECT_EQ(take(zk::tilde_expand("~/rest")), "//rest");
}

TEST_F(ExecPath, HomeFromPasswordFileWithoutHome) {
    const std::string passwd = at("passwd");
    zktest::write_file(passwd, "other:x:" + std::to_string(::getuid() + 1) + ":0::/elsewhere:/bin/sh\n" +
                                   "me:x:" + std::to_string(::getuid()) + ":0::/my/home:/bin/sh\n");
    PasswordFileGuard file(passwd.c_str());
    zktest::EnvGuard home("HOME", std::nullopt);
    EXPECT_EQ(take(zk::tilde_expand("~/x")), "/my/home/x");
}

TEST_F(ExecPath, NoHomeWithoutPasswordFile) {
    PasswordFileGuard file("/nonexistent/passwd");
    zktest::EnvGuard home("HOME", std::nullopt);
    EXPECT_EQ(take(zk::tilde_expand("~/x")), "~/x");
    EXPECT_EQ(take(zk::tilde_expand("~root/x")), "~root/x");
}

TEST_F(ExecPath, WorkingDirectoryIsCachedUntilForgotten) {
    make_dir(at("sub"));
    EXPECT_STREQ(zk::get_cwd(), cwd.c_str());
    const char* cached = zk::get_cwd();
    ASSERT_EQ(::chdir("sub"), 0);
    EXPECT_EQ(zk::get_cwd(), cached);
    EXPECT_STREQ(zk::get_cwd(), cwd.c_str());
    zk::get_cwd_changed_directory();
    EXPECT_EQ(std::string(zk::get_cwd()), at("sub"));
}

TEST_F(ExecPath, RemovedWorkingDirectoryHasAFixedName) {
    make_dir(at("gone"));
    ASSERT_EQ(::chdir("gone"), 0);
    ASSERT_EQ(::rmdir(at("gone").c_str()), 0);
    EXPECT_STREQ(zk::get_cwd(), "/DIRECTORY-REMOVED");
    EXPECT_EQ(take(zk::find_exec_path("", "./prog")), std::nullopt);
}

}  // namespace
