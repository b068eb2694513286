// SIGINT, SIGTERM and SIGHUP while an installer is being written: the
// unfinished file is removed, then zkpack ends by the same signal.
#pragma once

#include <signal.h>

namespace zkpack {

// Installs the handlers once; a signal ignored at start stays ignored.
void catch_interruptions();

// The file a signal removes, or null for none. Call it while the signals
// are held, so that no handler sees a file half registered.
void remove_on_interruption(const char* path);

// Holds the three signals for its scope.
class InterruptionsHeld {
public:
    InterruptionsHeld();
    ~InterruptionsHeld();
    InterruptionsHeld(const InterruptionsHeld&) = delete;
    InterruptionsHeld& operator=(const InterruptionsHeld&) = delete;

private:
    sigset_t previous_;
};

}  // namespace zkpack
