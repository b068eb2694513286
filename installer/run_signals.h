// Signals that end a run: SIGINT, SIGTERM, SIGHUP, SIGQUIT and SIGXFSZ (a
// file size limit). Each one that was not ignored when the run began removes
// the private temporary directory, prints "ERROR: Installation failed." (not
// under -gz; "ERROR: Extraction failed." under --extract; nothing in the
// modes that carry nothing out) and ends the installer by the same signal
// with its default action, so that whoever started it sees what happened.
#pragma once

#include <signal.h>

// Installs the handlers; a signal ignored at this point (nohup, say) stays
// ignored.
void catch_run_signals();

// Puts back the dispositions the run began with.
void release_run_signals();

// Ends the run as a handler would, from ordinary code: for a program or
// script that the user killed with Ctrl-C or Ctrl-\.
[[noreturn]] void end_run_by_signal(int signal_number);

// Holds the run's signals for its scope, so that a handler never sees state
// half made or half removed.
class RunSignalsHeld {
public:
    RunSignalsHeld();
    ~RunSignalsHeld();
    RunSignalsHeld(const RunSignalsHeld&) = delete;
    RunSignalsHeld& operator=(const RunSignalsHeld&) = delete;
    const sigset_t& previous_mask() const { return previous_; }

private:
    sigset_t previous_;
};
