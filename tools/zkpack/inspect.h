// zkpack list and zkpack verify. Both return the exit status: 0 when the
// package is sound, 1 with the reason on standard error otherwise.
#pragma once

#include <string>

namespace zkpack {

int list_package(const std::string& path);
int verify_package(const std::string& path);

}  // namespace zkpack
