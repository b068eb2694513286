#include "interruptions.h"

#include <unistd.h>

#include <array>
#include <atomic>

namespace zkpack {

namespace {

constexpr std::array<int, 3> INTERRUPTIONS = {SIGINT, SIGTERM, SIGHUP};

std::atomic<const char*> file_to_remove{nullptr};
bool caught = false;

sigset_t interruption_set() {
    sigset_t set;
    sigemptyset(&set);
    for (int signal_number : INTERRUPTIONS) sigaddset(&set, signal_number);
    return set;
}

// The signal stays held while the handler runs: raised again with its
// default action, it ends zkpack as soon as the handler returns.
void on_interruption(int signal_number) {
    if (const char* path = file_to_remove.load()) ::unlink(path);
    struct sigaction default_action {};
    default_action.sa_handler = SIG_DFL;
    ::sigaction(signal_number, &default_action, nullptr);
    ::raise(signal_number);
}

}  // namespace

void catch_interruptions() {
    if (caught) return;
    struct sigaction action {};
    action.sa_handler = on_interruption;
    action.sa_mask = interruption_set();
    for (int signal_number : INTERRUPTIONS) {
        struct sigaction previous {};
        ::sigaction(signal_number, nullptr, &previous);
        if (previous.sa_handler != SIG_IGN) ::sigaction(signal_number, &action, nullptr);
    }
    caught = true;
}

void remove_on_interruption(const char* path) { file_to_remove.store(path); }

InterruptionsHeld::InterruptionsHeld() {
    const sigset_t set = interruption_set();
    ::sigprocmask(SIG_BLOCK, &set, &previous_);
}

InterruptionsHeld::~InterruptionsHeld() { ::sigprocmask(SIG_SETMASK, &previous_, nullptr); }

}  // namespace zkpack
