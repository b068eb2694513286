// The installer's switches: -d, -gz and -program NAME, before any other word.
#pragma once

// Sets debug_shell, stream_only and package_path in the installer state and
// returns the index of the first argument that is not a switch.
int parse_args(int argc, char** argv);
