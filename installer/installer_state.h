// The installer state: what the run driver and the record handlers share.
// One instance per process, zero at start, never freed.
#pragma once

#include <array>

#include "package.h"

struct InstallerState {
    std::array<char, MARKER_BUFFER_SIZE> marker;  // NUL-terminated
    int debug_shell;           // -d: a shell before each setup script
    int package_fd;            // the installer's own file, read-only
    char* install_dir;         // null until the welcome text record chooses it
    int stream_only;           // -gz: the archive goes to standard output
    const char* package_path;  // the running executable's file
    const char* temp_dir;      // TEMP, else TMP, else "."
};

extern InstallerState installer_state;
