#include "temp_file.h"

#include <fcntl.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fatal.h"
#include "installer_state.h"

namespace {

constexpr const char TEMP_FILE_NAME[] = "zkinstall-temp.exe";

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

}  // namespace

bool make_temp_path(TempPath& path) {
    const int length = std::snprintf(path.data(), path.size(), "%s/%s", installer_state.temp_dir, TEMP_FILE_NAME);
    return length >= 0 && static_cast<size_t>(length) < path.size();
}

void print_temp_path(const char* format) {
    const std::string path = std::string(installer_state.temp_dir) + "/" + TEMP_FILE_NAME;
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
    return shell_could_not_start(status) ? RUN_NOT_STARTED : 0;
}

int (*shell_command_hook)(const char* command) = nullptr;

int run_shell_command(const char* command) {
    if (shell_command_hook != nullptr) return shell_command_hook(command);
    // The command writes to the same descriptors: what we printed comes first.
    std::fflush(nullptr);
    // Only the installer ignores SIGPIPE; what it runs starts as from a shell.
    std::signal(SIGPIPE, SIG_DFL);
    const int status = std::system(command);
    std::signal(SIGPIPE, SIG_IGN);
    return status;
}
