// The installer's run: from the process set-up to the final message.
#pragma once

#include <cstdint>

// Runs what parse_args chose. --help and --version, and a refused command
// line (exit status 2), need no package. Otherwise finds the running
// executable from argv0 along PATH, verifies its package and carries out its
// setup records (or checks, lists or extracts them). Returns the exit status:
// 0, or 1 when a record failed. Every fatal error ends the run through
// fatal_exit; the run's signals end it as run_signals.h says.
int zkinstall(const char* argv0);

// What zkinstall does first: closed standard streams opened on /dev/null,
// the temporary directory from TEMP, TMP or TMPDIR, the file-creation mask,
// SIGPIPE, the standard streams' buffering, the marker.
void set_up_process();

// What zkinstall does once it has opened its file: verifies the package open
// as installer_state.package_fd (file_size bytes, named package_path) and
// carries out its records, then removes the private temporary directory.
// Returns the exit status as zkinstall does.
int install_package(uint64_t file_size);
