#include "command_line.h"
#include "driver.h"

int main(int argc, char** argv) {
    parse_args(argc, argv);
    // A caller may start us with no arguments at all, not even our name.
    return zkinstall(argc > 0 ? argv[0] : "");
}
