// The installer state: what the run driver and the record handlers share.
// One instance per process, zero at start, never freed.
#pragma once

#include <array>

#include "package.h"

// What a run does, as the command line chose it.
enum class RunMode {
    install,      // carry out the records
    stream,       // -gz: the archive goes to standard output
    help,         // --help: the usage on standard output
    version,      // --version
    check,        // --check: verify everything, carry out nothing
    list,         // --list: one line per record, nothing carried out
    extract,      // --extract DIR: archive records only
    info,         // --info: what the package says of itself, nothing carried out
    usage_error,  // the command line was refused: nothing is done
};

struct InstallerState {
    std::array<char, MARKER_BUFFER_SIZE> marker;  // NUL-terminated
    int debug_shell;                              // -d: a shell before each setup script
    int package_fd;                               // the installer's own file, then its verified copy
    char* install_dir;                            // null until the welcome text record chooses it
    int stream_only;                              // -gz: the archive goes to standard output
    const char* package_path;                     // the running executable's file
    const char* temp_dir;        // the first of TEMP, TMP, TMPDIR, /tmp that others cannot change; null for none
    RunMode run_mode;            // install unless an option chose another
    int quiet;                   // --quiet: no progress, only errors and the final message
    int assume_yes;              // --yes: every question takes its default, unread
    int accept_license;          // --accept: the license is accepted unread
    const char* target_dir;      // --target DIR: the install directory, never asked for
    const char* extract_dir;     // --extract DIR
    const char* public_key;      // --pubkey: a key in base64 or a key file; null for no check
    const char* signature_path;  // --signature: null for the package's name and .minisig
    int ignore_script_status;    // the package says its programs' and scripts' statuses mean nothing
    char** script_args;          // the words after --, handed to every program and script
    int script_arg_count;
};

extern InstallerState installer_state;

// Whether the run tells how it is getting on: the banner, the verification
// progress, the echoed assignments and the "Extracting" lines.
bool shows_progress();

// Whether the user may be asked anything. A run that must not ask takes the
// default answers, and a package that fails verification ends it.
bool may_ask();
