// The run's private temporary directory and the file that program and
// script records write and run there. The directory is made on first use
// inside the temporary directory (which may be shared), mode 0700 under a
// name no one can guess, and removed with everything in it when the run
// ends, however it ends.
#pragma once

#include <array>
#include <cstddef>

constexpr size_t TEMP_PATH_SIZE = 1024;
using TempPath = std::array<char, TEMP_PATH_SIZE>;

// The private directory's descriptor, made on first use; -1 when it
// cannot be made.
int private_dir_fd();

// Makes the private directory if this run has none yet and forms the
// temporary file's path in it; false when the directory cannot be made or
// the path does not fit.
bool make_temp_path(TempPath& path);

// Prints `format`, which holds one %s, on standard output with the temporary
// file's path, or, while there is no private directory, with the name of the
// directory that was to be made (TEMP/zkinstall.XXXXXX), however long.
void print_temp_path(const char* format);

// Prints "Error: cannot create temp output file: %s\n" with that path and
// ends the process with status 1.
[[noreturn]] void temp_create_failed();

// Creates the temporary file afresh in the private directory, `mode`
// before the file-creation mask, never through whatever entry (a symbolic
// link, say) was left at that name. Returns the descriptor, or -1.
int create_temp_file(int mode = 0755);

// Gives the temporary file mode 0755.
bool make_temp_file_executable();

// Runs the file through the shell with the words after -- as its
// arguments, waits for it and removes it. False when the temporary
// directory forbids programs, too few descriptors are left for a shell,
// the shell could not start the file, or, unless the package says its
// statuses mean nothing, the file exited with a status other than 0 or was
// ended by a signal; `what` ("Program", "Setup script") names it in the
// message. A file killed by SIGINT or SIGQUIT (Ctrl-C, Ctrl-\) ends the run
// by that signal.
[[nodiscard]] bool run_temp_file(const char* path, const char* what);

// Removes the private directory and what it holds, if this run made one.
// Safe inside a signal handler.
void remove_temp_dir();

// The entry being made under a temporary name beside its real one, so that
// a signal ending the run leaves no partial file or stray name in the
// install directory. At most one at a time; the name is copied.
void note_unfinished_file(int dir_fd, const char* name);
void forget_unfinished_file();

// Removes the noted file, if any. Safe inside a signal handler.
void remove_unfinished_file();
