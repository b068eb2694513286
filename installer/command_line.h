// The installer's command line: the switches -d, -gz and -program NAME
// before any other word, the long options and help's spellings, which may
// stand anywhere, and after -- the arguments of every program and script.
#pragma once

// The exit status of a run whose command line was refused.
constexpr int EXIT_USAGE = 2;

// Sets the switches' and options' fields and the run mode in the installer
// state and returns the index of the first argument that is not a switch. A
// command line it refuses (an unknown long option, one without its value,
// options that contradict each other) is reported on standard error with the
// usage, and the run mode becomes usage_error.
int parse_args(int argc, char** argv);

// --help's text on standard output, naming the program as it was started.
// Returns false when it could not be written.
bool print_help(const char* program);
