#include "temp_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
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
// are held. Its descriptor is what every file in it is made, changed and
// removed through; the name serves the shell and the messages.
TempPath temp_dir_path;
volatile std::sig_atomic_t temp_dir_made = 0;
volatile std::sig_atomic_t temp_dir_fd = -1;

// Appends the word single-quoted for the shell: an embedded ' becomes '\''.
void quote_for_shell(const char* text, std::string& command) {
    command += '\'';
    for (; *text != '\0'; ++text) {
        if (*text == '\'') {
            command += "'\\''";
        } else {
            command += *text;
        }
    }
    command += '\'';
}

// The path and the words after --, each one word to the shell however it
// is spelled. The shell gives way to the file, so that a signal ending it
// shows in the status rather than as the shell's 128 + signal.
std::string command_for(const char* path) {
    std::string command = "exec ";
    quote_for_shell(path, command);
    for (int at = 0; at < installer_state.script_arg_count; ++at) {
        command += ' ';
        quote_for_shell(installer_state.script_args[at], command);
    }
    return command;
}

// The shell's own statuses for a command it could not execute or find.
bool shell_could_not_start(int status) {
    return status == -1 || (WIFEXITED(status) && (WEXITSTATUS(status) == 126 || WEXITSTATUS(status) == 127));
}

// A status that fails the record, reported as such; the package may say
// that its statuses mean nothing, but not that of a program the shell could
// not start. Under -gz standard output carries the archive.
bool report_status(int status, const char* what) {
    if (installer_state.ignore_script_status != 0 && !shell_could_not_start(status)) return true;
    FILE* report = installer_state.stream_only != 0 ? stderr : stdout;
    if (WIFEXITED(status) && WEXITSTATUS(status) != 0) {
        std::fprintf(report, "%s failed with exit status %d\n", what, WEXITSTATUS(status));
        return false;
    }
    if (WIFSIGNALED(status)) {
        std::fprintf(report, "%s ended by signal %d\n", what, WTERMSIG(status));
        return false;
    }
    return true;
}

bool forbids_programs() {
    struct statvfs status;
    return ::fstatvfs(temp_dir_fd, &status) == 0 && (status.f_flag & ST_NOEXEC) != 0;
}

// A shell runs a script from a descriptor it moves to 10 or above; below
// that limit it fails before the script's first line, with a status that
// the script itself might have returned.
constexpr rlim_t SHELL_DESCRIPTORS = 16;

bool room_for_a_shell() {
    struct rlimit limit;
    return ::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= SHELL_DESCRIPTORS;
}

bool killed_by_user(int status) {
    return status != -1 && WIFSIGNALED(status) && (WTERMSIG(status) == SIGINT || WTERMSIG(status) == SIGQUIT);
}

// With no temporary directory that others cannot change, messages name the
// one that would have been used.
std::string temp_dir_name() {
    const char* base = installer_state.temp_dir != nullptr ? installer_state.temp_dir : "/tmp";
    return std::string(base) + "/" + TEMP_DIR_PATTERN;
}

// What mkdtemp made, as this run made it: a directory of ours that no one
// else may enter. Anything else there was put in its place.
bool is_private(int fd) {
    struct stat status;
    return ::fstat(fd, &status) == 0 && S_ISDIR(status.st_mode) && status.st_uid == ::geteuid() &&
           (status.st_mode & 07777) == 0700;
}

bool make_temp_dir() {
    if (installer_state.temp_dir == nullptr) return false;
    const std::string name = temp_dir_name();
    // Room for the file's name after it, so every path formed later fits.
    if (name.size() + 1 + std::strlen(TEMP_FILE_NAME) >= TEMP_PATH_SIZE) return false;
    const RunSignalsHeld held;
    std::memcpy(temp_dir_path.data(), name.c_str(), name.size() + 1);
    if (::mkdtemp(temp_dir_path.data()) == nullptr) return false;
    const int fd = ::open(temp_dir_path.data(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0 && !is_private(fd)) {
        ::close(fd);
        return false;
    }
    if (fd < 0) {
        ::rmdir(temp_dir_path.data());
        return false;
    }
    temp_dir_fd = fd;
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

int private_dir_fd() { return temp_dir_made != 0 || make_temp_dir() ? static_cast<int>(temp_dir_fd) : -1; }

bool make_temp_path(TempPath& path) {
    if (private_dir_fd() < 0) return false;
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

int create_temp_file(int mode) {
    ::unlinkat(temp_dir_fd, TEMP_FILE_NAME, 0);
    return ::openat(temp_dir_fd, TEMP_FILE_NAME, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
}

bool make_temp_file_executable() { return ::fchmodat(temp_dir_fd, TEMP_FILE_NAME, 0755, 0) == 0; }

bool run_temp_file(const char* path, const char* what) {
    if (forbids_programs()) {
        std::printf("Error: %s does not allow programs to run; set TEMP to another directory\n",
                    installer_state.temp_dir);
        ::unlinkat(temp_dir_fd, TEMP_FILE_NAME, 0);
        return false;
    }
    if (!room_for_a_shell()) {
        std::printf("Error: too few file descriptors (ulimit -n) to run %s\n", path);
        ::unlinkat(temp_dir_fd, TEMP_FILE_NAME, 0);
        return false;
    }
    const int status = run_shell_command(command_for(path).c_str());
    ::unlinkat(temp_dir_fd, TEMP_FILE_NAME, 0);
    if (killed_by_user(status)) end_run_by_signal(WTERMSIG(status));
    return status != -1 && report_status(status, what) && !shell_could_not_start(status);
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
    remove_contents(temp_dir_fd, 0);
    temp_dir_fd = -1;
    // Its parent is one that no other user can change, so the name is still ours.
    ::rmdir(temp_dir_path.data());
    temp_dir_made = 0;
}
