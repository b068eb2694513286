// The temporary file that program and script records write and run:
// "zkinstall-temp.exe" in the temporary directory, which may be shared.
#pragma once

#include <array>
#include <cstddef>

constexpr size_t TEMP_PATH_SIZE = 1024;
using TempPath = std::array<char, TEMP_PATH_SIZE>;

// A record whose file could not be run through the shell.
constexpr int RUN_NOT_STARTED = -3;

// Forms the temporary file's path from temp_dir; false when it does not fit.
bool make_temp_path(TempPath& path);

// Prints `format`, which holds one %s, with the temporary file's path,
// however long, on standard output.
void print_temp_path(const char* format);

// Prints "Error: cannot create temp output file: %s\n" with the temporary
// file's path and ends the process with status 1.
[[noreturn]] void temp_create_failed();

// Creates the file afresh, `mode` before the file-creation mask, never
// through whatever entry (a symbolic link, say) someone left at that name.
// Returns the descriptor, or -1.
int create_temp_file(const char* path, int mode = 0755);

// Runs the file through the shell, waits for it and removes it. The file's
// own exit status is not looked at: 0, or RUN_NOT_STARTED when the
// temporary directory forbids programs or the file could not be started.
int run_temp_file(const char* path);

// Runs a command line through the shell and waits for it; returns what
// system() returns.
int run_shell_command(const char* command);

// Null in the installer. When set, run_shell_command hands the command to it
// instead of the shell and returns its result: the fuzz target records what
// a package would run rather than running it.
extern int (*shell_command_hook)(const char* command);
