#include "command_line.h"

#include <cstring>

#include "installer_state.h"

int parse_args(int argc, char** argv) {
    int index = 1;
    for (; index < argc && argv[index][0] == '-'; ++index) {
        const char* name = argv[index] + 1;
        if (std::strcmp(name, "d") == 0) {
            installer_state.debug_shell = 1;
        } else if (std::strcmp(name, "gz") == 0) {
            installer_state.stream_only = 1;
        } else if (std::strcmp(name, "program") == 0 && index + 1 < argc) {
            installer_state.package_path = argv[++index];
        }
        // Any other switch is ignored without a word.
    }
    return index;
}
