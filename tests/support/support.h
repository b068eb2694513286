// Shared test helpers: scratch directories, files, and running the built
// programs as a user would, with their streams captured apart.
#pragma once

#include <sys/types.h>

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Defined where AddressSanitizer instruments the build: GCC and clang say so
// in different ways.
#if defined(__SANITIZE_ADDRESS__)
#define ZKTEST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZKTEST_ASAN 1
#endif
#endif

namespace zktest {

// A fresh directory under the build tree, removed with its contents.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Restores the working directory on scope exit.
class CwdGuard {
public:
    CwdGuard();
    ~CwdGuard();
    CwdGuard(const CwdGuard&) = delete;
    CwdGuard& operator=(const CwdGuard&) = delete;

private:
    int fd_;
};

// Sets (or with nullopt, unsets) an environment variable; restores it on scope exit.
class EnvGuard {
public:
    EnvGuard(const std::string& name, std::optional<std::string> value);
    ~EnvGuard();
    EnvGuard(const EnvGuard&) = delete;
    EnvGuard& operator=(const EnvGuard&) = delete;

private:
    std::string name_;
    std::optional<std::string> old_;
};

struct RunResult {
    std::string out;
    std::string err;
    int status = -1;  // exit status, or 128 + signal number
};

struct RunOptions {
    std::string input;                                      // fed to standard input, then end of input
    std::map<std::string, std::optional<std::string>> env;  // changes to the inherited environment
    std::string cwd;                                        // empty: inherit
    std::string argv0;                                      // empty: the program path
    std::function<void()> in_child{};                       // runs in the child just before exec
    std::function<void(pid_t)> started{};                   // runs in the parent once the child exists
};

// The private directory an installer run makes in TEMP has a random name:
// both streams show it as zkinstall.XXXXXX.
RunResult run(const std::string& program, const std::vector<std::string>& args, const RunOptions& options = {});

// `text` with every private directory name written zkinstall.XXXXXX.
std::string masked_temp_dirs(std::string text);

// The installer's standard error without the checksum pass's progress lines,
// which show only when the clock's second turns during the pass.
std::string without_progress(std::string err);

std::string read_file(const std::string& path);
void write_file(const std::string& path, std::string_view content, mode_t mode = 0644);
bool exists(const std::string& path);

// Whether this test runs under qemu-user (run_foreign.sh says so), which
// neither limits the address space nor dies of a signal silently.
bool emulated();

mode_t mode_of(const std::string& path);  // permission bits, from lstat

// A tmpfs of its own mounted on a directory for the scope, where
// mounting is permitted (a test skips or takes another way when it
// is not).
class Tmpfs {
public:
    Tmpfs(const std::string& path, unsigned long flags, const std::string& options);
    ~Tmpfs();
    Tmpfs(const Tmpfs&) = delete;
    Tmpfs& operator=(const Tmpfs&) = delete;
    bool mounted() const { return mounted_; }
    const std::string& error() const { return error_; }

private:
    std::string path_;
    bool mounted_ = false;
    std::string error_;
};

// The installer program built for ARCH (x86_64, aarch64...), and this machine's.
std::string installer_program_path(const std::string& arch);
std::string zkinstall_path();
std::string native_arch();
std::string zkpack_path();
std::string source_dir();
std::string binary_dir();

}  // namespace zktest
