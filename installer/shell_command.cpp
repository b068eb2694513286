#include "shell_command.h"

#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <csignal>
#include <cstdio>

#include "run_signals.h"

extern char** environ;

namespace {

volatile std::sig_atomic_t running_pid = 0;

// The signals that the installer ignores now but the command must not:
// SIGPIPE always, SIGINT and SIGQUIT unless ignored before the wait began.
sigset_t defaults_for_command(const struct sigaction& interrupt, const struct sigaction& quit) {
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    if (interrupt.sa_handler != SIG_IGN) sigaddset(&defaults, SIGINT);
    if (quit.sa_handler != SIG_IGN) sigaddset(&defaults, SIGQUIT);
    return defaults;
}

pid_t spawn_shell(const char* command, const sigset_t& defaults, const sigset_t& mask) {
    posix_spawnattr_t attributes;
    if (::posix_spawnattr_init(&attributes) != 0) return -1;
    ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    ::posix_spawnattr_setsigdefault(&attributes, &defaults);
    ::posix_spawnattr_setsigmask(&attributes, &mask);
    char* const argv[] = {const_cast<char*>("sh"), const_cast<char*>("-c"), const_cast<char*>(command), nullptr};
    pid_t pid = -1;
    const int failed = ::posix_spawn(&pid, "/bin/sh", nullptr, &attributes, argv, environ);
    ::posix_spawnattr_destroy(&attributes);
    return failed == 0 ? pid : -1;
}

int wait_for(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    return status;
}

}  // namespace

int (*shell_command_hook)(const char* command) = nullptr;

pid_t running_command() { return running_pid; }

int run_shell_command(const char* command) {
    if (shell_command_hook != nullptr) return shell_command_hook(command);
    // The command writes to the same descriptors: what we printed comes first.
    std::fflush(nullptr);
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    struct sigaction interrupt {
    }, quit{};
    pid_t pid;
    {
        // Signals held until the handlers know the child, so one of them
        // can pass a SIGTERM or SIGHUP on to it.
        const RunSignalsHeld held;
        ::sigaction(SIGINT, &ignore, &interrupt);
        ::sigaction(SIGQUIT, &ignore, &quit);
        pid = spawn_shell(command, defaults_for_command(interrupt, quit), held.previous_mask());
        running_pid = pid > 0 ? pid : 0;
    }
    const int status = pid > 0 ? wait_for(pid) : -1;
    running_pid = 0;
    ::sigaction(SIGINT, &interrupt, nullptr);
    ::sigaction(SIGQUIT, &quit, nullptr);
    return status;
}
