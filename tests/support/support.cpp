#include "support.h"

#include <fcntl.h>
#include <ftw.h>
#include <poll.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <stdexcept>

namespace zktest {

namespace {

int remove_entry(const char* path, const struct stat*, int, struct FTW*) {
    // Read-only directories left by a test must not block the clean-up.
    ::chmod(path, 0700);
    return ::remove(path);
}

void make_writable(const std::string& root) {
    ::nftw(
        root.c_str(),
        [](const char* path, const struct stat* st, int type, struct FTW*) {
            if (type == FTW_D || type == FTW_DNR) ::chmod(path, (st->st_mode & 07777) | 0700);
            return 0;
        },
        32, FTW_PHYS);
}

void append_from(int fd, std::string& sink, bool& open) {
    char buffer[4096];
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n > 0) {
        sink.append(buffer, static_cast<size_t>(n));
    } else if (n == 0 || errno != EINTR) {
        open = false;
    }
}

}  // namespace

TempDir::TempDir() {
    std::string base = std::string(ZK_BINARY_DIR) + "/test-tmp";
    ::mkdir(base.c_str(), 0755);
    std::string pattern = base + "/t.XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    make_writable(path_);
    ::nftw(path_.c_str(), remove_entry, 32, FTW_DEPTH | FTW_PHYS);
}

CwdGuard::CwdGuard() : fd_(::open(".", O_RDONLY | O_DIRECTORY)) {}

CwdGuard::~CwdGuard() {
    if (fd_ >= 0) {
        if (::fchdir(fd_) != 0) ADD_FAILURE() << "cannot return to the working directory";
        ::close(fd_);
    }
}

EnvGuard::EnvGuard(const std::string& name, std::optional<std::string> value) : name_(name) {
    if (const char* old = ::getenv(name.c_str())) old_ = old;
    if (value) {
        ::setenv(name.c_str(), value->c_str(), 1);
    } else {
        ::unsetenv(name.c_str());
    }
}

EnvGuard::~EnvGuard() {
    if (old_) {
        ::setenv(name_.c_str(), old_->c_str(), 1);
    } else {
        ::unsetenv(name_.c_str());
    }
}

RunResult run(const std::string& program, const std::vector<std::string>& args, const RunOptions& options) {
    // A child that exits without reading all its input must not kill the test.
    ::signal(SIGPIPE, SIG_IGN);
    int in_pipe[2], out_pipe[2], err_pipe[2];
    if (::pipe(in_pipe) != 0 || ::pipe(out_pipe) != 0 || ::pipe(err_pipe) != 0) {
        throw std::runtime_error("pipe failed");
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(in_pipe[0], 0);
        ::dup2(out_pipe[1], 1);
        ::dup2(err_pipe[1], 2);
        for (int fd : {in_pipe[0], in_pipe[1], out_pipe[0], out_pipe[1], err_pipe[0], err_pipe[1]}) ::close(fd);
        for (const auto& [name, value] : options.env) {
            if (value) {
                ::setenv(name.c_str(), value->c_str(), 1);
            } else {
                ::unsetenv(name.c_str());
            }
        }
        if (!options.cwd.empty() && ::chdir(options.cwd.c_str()) != 0) ::_exit(125);
        if (options.in_child) options.in_child();
        std::vector<char*> argv;
        std::string argv0 = options.argv0.empty() ? program : options.argv0;
        argv.push_back(argv0.data());
        std::vector<std::string> copies(args);
        for (auto& arg : copies) argv.push_back(arg.data());
        argv.push_back(nullptr);
        ::execv(program.c_str(), argv.data());
        ::_exit(124);
    }
    ::close(in_pipe[0]);
    ::close(out_pipe[1]);
    ::close(err_pipe[1]);
    if (options.started) options.started(pid);

    RunResult result;
    size_t written = 0;
    bool in_open = !options.input.empty();
    if (!in_open) ::close(in_pipe[1]);
    bool out_open = true, err_open = true;
    while (out_open || err_open) {
        std::vector<pollfd> fds;
        if (out_open) fds.push_back({out_pipe[0], POLLIN, 0});
        if (err_open) fds.push_back({err_pipe[0], POLLIN, 0});
        if (in_open) fds.push_back({in_pipe[1], POLLOUT, 0});
        if (::poll(fds.data(), fds.size(), -1) < 0 && errno != EINTR) break;
        for (const auto& p : fds) {
            if (p.revents == 0) continue;
            if (p.fd == out_pipe[0]) append_from(p.fd, result.out, out_open);
            if (p.fd == err_pipe[0]) append_from(p.fd, result.err, err_open);
            if (p.fd == in_pipe[1]) {
                const ssize_t n = ::write(p.fd, options.input.data() + written, options.input.size() - written);
                if (n > 0) written += static_cast<size_t>(n);
                if (n < 0 || written == options.input.size()) {
                    ::close(in_pipe[1]);
                    in_open = false;
                }
            }
        }
    }
    if (in_open) ::close(in_pipe[1]);
    ::close(out_pipe[0]);
    ::close(err_pipe[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.out = masked_temp_dirs(std::move(result.out));
    result.err = masked_temp_dirs(std::move(result.err));
    return result;
}

std::string masked_temp_dirs(std::string text) {
    const std::string prefix = "zkinstall.";
    constexpr size_t random_length = 6;
    for (size_t at = 0; (at = text.find(prefix, at)) != std::string::npos; at += prefix.size()) {
        const size_t start = at + prefix.size();
        if (start + random_length > text.size()) break;
        const bool random = std::all_of(text.begin() + start, text.begin() + start + random_length,
                                        [](char ch) { return std::isalnum(static_cast<unsigned char>(ch)) != 0; });
        const bool ends = start + random_length == text.size() ||
                          !std::isalnum(static_cast<unsigned char>(text[start + random_length]));
        if (random && ends) text.replace(start, random_length, std::string(random_length, 'X'));
    }
    return text;
}

std::string without_progress(std::string err) {
    const std::string start = "(processing .. ";
    for (size_t at; (at = err.find(start)) != std::string::npos;) err.erase(at, err.find('\n', at) + 1 - at);
    return err;
}

std::string read_file(const std::string& path) {
    // Sized once from the file, as packages of several megabytes are read
    // back many times over.
    std::string content;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return content;
    struct stat st;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) content.reserve(static_cast<size_t>(st.st_size));
    std::array<char, 65536> block;
    ssize_t n;
    while ((n = ::read(fd, block.data(), block.size())) > 0 || (n < 0 && errno == EINTR)) {
        if (n > 0) content.append(block.data(), static_cast<size_t>(n));
    }
    ::close(fd);
    return content;
}

void write_file(const std::string& path, std::string_view content, mode_t mode) {
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(content.data(), static_cast<std::streamsize>(content.size()));
    }
    ::chmod(path.c_str(), mode);
}

bool exists(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

bool emulated() { return std::getenv("ZK_EMULATOR") != nullptr; }

mode_t mode_of(const std::string& path) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) return 0;
    return st.st_mode & 07777;
}

std::string binary_dir() { return ZK_BINARY_DIR; }
std::string source_dir() { return ZK_SOURCE_DIR; }
std::string installer_program_path(const std::string& arch) { return std::string(ZK_STUB_DIR) + "/zkinstall-" + arch; }
std::string zkinstall_path() { return installer_program_path(ZK_NATIVE_ARCH); }
std::string native_arch() { return ZK_NATIVE_ARCH; }
std::string zkpack_path() { return binary_dir() + "/bin/zkpack"; }

Tmpfs::Tmpfs(const std::string& path, unsigned long flags, const std::string& options) : path_(path) {
    if (::mount("tmpfs", path.c_str(), "tmpfs", flags, options.c_str()) == 0) {
        mounted_ = true;
    } else {
        error_ = std::string("cannot mount a file system here: ") + std::strerror(errno);
    }
}

Tmpfs::~Tmpfs() {
    if (mounted_) ::umount2(path_.c_str(), MNT_DETACH);
}

}  // namespace zktest
