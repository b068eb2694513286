#include "temp_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

#include "fatal.h"
#include "installer_state.h"
#include "run_signals.h"
#include "shell_command.h"

namespace {

constexpr const char TEMP_DIR_PATTERN[] = "zkinstall.XXXXXX";
constexpr const char TEMP_FILE_NAME[] = "zkinstall-temp.exe";

// Deeper directories than this, made there by a program, are left in place
// rather than risk the stack of a signal handler.
constexpr int MAX_REMOVAL_DEPTH = 32;

// The private directory, read by signal handlers: set only while signals
// are held.
TempPath temp_dir_path;
volatile std::sig_atomic_t temp_dir_made = 0;

// The path, single-quoted for the shell: an embedded ' becomes '\''.
using QuotedPath = std::array<char, TEMP_PATH_SIZE * 4 + 3>;

void quote_for_shell(const char* text, QuotedPath& quoted) {
    size_t at = 0;
    quoted[at++] = '\'';
    for (; *text != '\0'; ++text) {
        if (*text == '\'') {
            for (char ch : {'\'', '\\', '\'', '\''}) quoted[at++] = ch;
        } else {
            quoted[at++] = *text;
        }
    }
    quoted[at++] = '\'';
    quoted[at] = '\0';
}

bool forbids_programs(const char* path) {
    struct statvfs status;
    return ::statvfs(path, &status) == 0 && (status.f_flag & ST_NOEXEC) != 0;
}

// The shell's own statuses for a command it could not execute or find.
bool shell_could_not_start(int status) {
    return status == -1 || (WIFEXITED(status) && (WEXITSTATUS(status) == 126 || WEXITSTATUS(status) == 127));
}

bool killed_by_user(int status) {
    return status != -1 && WIFSIGNALED(status) && (WTERMSIG(status) == SIGINT || WTERMSIG(status) == SIGQUIT);
}

std::string temp_dir_name() { return std::string(installer_state.temp_dir) + "/" + TEMP_DIR_PATTERN; }

bool make_temp_dir() {
    const std::string name = temp_dir_name();
    // Room for the file's name after it, so every path formed later fits.
    if (name.size() + 1 + std::strlen(TEMP_FILE_NAME) >= TEMP_PATH_SIZE) return false;
    const RunSignalsHeld held;
    std::memcpy(temp_dir_path.data(), name.c_str(), name.size() + 1);
    if (::mkdtemp(temp_dir_path.data()) == nullptr) return false;
    temp_dir_made = 1;
    return true;
}

// Removes what the directory open as `fd` holds, and closes it. Only calls
// that are safe in a signal handler.
void remove_contents(int fd, int depth) {
    alignas(dirent64) std::array<char, 2048> entries;
    for (bool removed = true; removed;) {
        removed = false;
        ::lseek(fd, 0, SEEK_SET);
        for (ssize_t count; (count = ::getdents64(fd, entries.data(), entries.size())) > 0;) {
            for (ssize_t at = 0; at < count;) {
                const auto* entry = reinterpret_cast<const dirent64*>(entries.data() + at);
                at += entry->d_reclen;
                const char* name = entry->d_name;
                if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
                if (::unlinkat(fd, name, 0) == 0) {
                    removed = true;
                    continue;
                }
                if ((errno != EISDIR && errno != EPERM) || depth >= MAX_REMOVAL_DEPTH) continue;
                const int inner = ::openat(fd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
                if (inner >= 0) remove_contents(inner, depth + 1);
                if (::unlinkat(fd, name, AT_REMOVEDIR) == 0) removed = true;
            }
        }
    }
    ::close(fd);
}

}  // namespace

bool make_temp_path(TempPath& path) {
    if (temp_dir_made == 0 && !make_temp_dir()) return false;
    const int length = std::snprintf(path.data(), path.size(), "%s/%s", temp_dir_path.data(), TEMP_FILE_NAME);
    return length >= 0 && static_cast<size_t>(length) < path.size();
}

void print_temp_path(const char* format) {
    const std::string path =
        temp_dir_made != 0 ? std::string(temp_dir_path.data()) + "/" + TEMP_FILE_NAME : temp_dir_name();
    std::printf(format, path.c_str());
}

void temp_create_failed() {
    print_temp_path("Error: cannot create temp output file: %s\n");
    fatal_exit();
}

int create_temp_file(const char* path, int mode) {
    ::unlink(path);
    return ::open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, mode);
}

int run_temp_file(const char* path) {
    if (forbids_programs(path)) {
        std::printf("Error: %s does not allow programs to run; set TEMP to another directory\n",
                    installer_state.temp_dir);
        ::remove(path);
        return RUN_NOT_STARTED;
    }
    QuotedPath command;
    quote_for_shell(path, command);
    const int status = run_shell_command(command.data());
    ::remove(path);
    if (killed_by_user(status)) end_run_by_signal(WTERMSIG(status));
    return shell_could_not_start(status) ? RUN_NOT_STARTED : 0;
}

namespace {

// The directory is published after the name and withdrawn first, so a
// handler that sees a descriptor sees the name that goes with it.
std::atomic<int> unfinished_dir{-1};
std::array<char, 64> unfinished_name{};

}  // namespace

void note_unfinished_file(int dir_fd, const char* name) {
    std::snprintf(unfinished_name.data(), unfinished_name.size(), "%s", name);
    unfinished_dir.store(dir_fd, std::memory_order_release);
}

void forget_unfinished_file() { unfinished_dir.store(-1, std::memory_order_release); }

void remove_unfinished_file() {
    const int dir_fd = unfinished_dir.exchange(-1, std::memory_order_acq_rel);
    if (dir_fd >= 0) ::unlinkat(dir_fd, unfinished_name.data(), 0);
}

void remove_temp_dir() {
    const RunSignalsHeld held;
    if (temp_dir_made == 0) return;
    const int fd = ::open(temp_dir_path.data(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0) remove_contents(fd, 0);
    ::rmdir(temp_dir_path.data());
    temp_dir_made = 0;
}
