// Commands run through the shell as system() runs them, with the child's
// process known to the run's signal handlers.
#pragma once

#include <sys/types.h>

// Runs a command line through /bin/sh and waits for it; returns its wait
// status, or -1 when the shell could not be started. While it runs the
// installer ignores SIGINT and SIGQUIT, which reach the command from the
// terminal; the command starts with the dispositions the installer was
// started with, and SIGPIPE at its default.
int run_shell_command(const char* command);

// Null in the installer. When set, run_shell_command hands the command to it
// instead of the shell and returns its result: the fuzz target records what
// a package would run rather than running it.
extern int (*shell_command_hook)(const char* command);

// The command now running, or 0.
pid_t running_command();
