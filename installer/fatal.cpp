#include "fatal.h"

#include <cstdlib>

#include "sealed_copy.h"
#include "temp_file.h"

void (*fatal_exit_hook)() = nullptr;

void fatal_exit() {
    release_sealed_copy();
    remove_temp_dir();
    if (fatal_exit_hook != nullptr) fatal_exit_hook();
    std::exit(1);
}
