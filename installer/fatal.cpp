#include "fatal.h"

#include <cstdlib>

void (*fatal_exit_hook)() = nullptr;

void fatal_exit() {
    if (fatal_exit_hook != nullptr) fatal_exit_hook();
    std::exit(1);
}
