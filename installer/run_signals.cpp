#include "run_signals.h"

#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "installer_state.h"
#include "shell_command.h"
#include "temp_file.h"

namespace {

constexpr std::array<int, 5> RUN_SIGNALS = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGXFSZ};
constexpr char INSTALL_FAILED[] = "ERROR: Installation failed.\n";
constexpr char EXTRACT_FAILED[] = "ERROR: Extraction failed.\n";

std::array<struct sigaction, RUN_SIGNALS.size()> previous_actions;
bool caught = false;

sigset_t run_signal_set() {
    sigset_t set;
    sigemptyset(&set);
    for (int signal_number : RUN_SIGNALS) sigaddset(&set, signal_number);
    return set;
}

// Only calls that are safe in a signal handler.
[[noreturn]] void finish_by_signal(int signal_number) {
    remove_unfinished_file();
    remove_temp_dir();
    // The run's own final message for a failure, where it has one.
    const RunMode mode = installer_state.run_mode;
    if (installer_state.stream_only == 0 && (mode == RunMode::install || mode == RunMode::extract)) {
        const char* message = mode == RunMode::install ? INSTALL_FAILED : EXTRACT_FAILED;
        [[maybe_unused]] const ssize_t written = ::write(STDOUT_FILENO, message, std::strlen(message));
    }
    struct sigaction default_action {};
    default_action.sa_handler = SIG_DFL;
    ::sigaction(signal_number, &default_action, nullptr);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signal_number);
    ::raise(signal_number);
    ::sigprocmask(SIG_UNBLOCK, &only, nullptr);
    ::_exit(128 + signal_number);
}

void on_run_signal(int signal_number) {
    // The program or script now running is ended too, as a terminal would
    // end it; SIGINT and SIGQUIT reach it from the terminal themselves.
    const pid_t child = running_command();
    if (child > 0 && (signal_number == SIGTERM || signal_number == SIGHUP)) ::kill(child, signal_number);
    finish_by_signal(signal_number);
}

}  // namespace

RunSignalsHeld::RunSignalsHeld() {
    const sigset_t set = run_signal_set();
    ::sigprocmask(SIG_BLOCK, &set, &previous_);
}

RunSignalsHeld::~RunSignalsHeld() { ::sigprocmask(SIG_SETMASK, &previous_, nullptr); }

void catch_run_signals() {
    struct sigaction action {};
    action.sa_handler = on_run_signal;
    action.sa_mask = run_signal_set();
    for (size_t i = 0; i < RUN_SIGNALS.size(); ++i) {
        ::sigaction(RUN_SIGNALS[i], nullptr, &previous_actions[i]);
        if (previous_actions[i].sa_handler != SIG_IGN) ::sigaction(RUN_SIGNALS[i], &action, nullptr);
    }
    caught = true;
}

void release_run_signals() {
    if (!caught) return;
    for (size_t i = 0; i < RUN_SIGNALS.size(); ++i) ::sigaction(RUN_SIGNALS[i], &previous_actions[i], nullptr);
    caught = false;
}

void end_run_by_signal(int signal_number) {
    std::fflush(stdout);
    const RunSignalsHeld held;
    finish_by_signal(signal_number);
}
