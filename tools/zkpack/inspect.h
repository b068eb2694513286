// zkpack list and zkpack verify. Both return the exit status: 0 when the
// package is sound, 1 with the reason on standard error otherwise.
#pragma once

#include <string>
#include <vector>

namespace zkpack {

int list_package(const std::string& path);
int verify_package(const std::string& path);
// Every package in turn, whatever an earlier one showed: 1 when any is not sound.
int verify_packages(const std::vector<std::string>& paths);

}  // namespace zkpack
