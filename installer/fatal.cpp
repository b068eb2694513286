#include "fatal.h"

#include <cstdlib>

#include "temp_file.h"

void (*fatal_exit_hook)() = nullptr;

void fatal_exit() {
    remove_temp_dir();
    if (fatal_exit_hook != nullptr) fatal_exit_hook();
    std::exit(1);
}
