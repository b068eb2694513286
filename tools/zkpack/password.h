// Passwords of secret keys: typed at the terminal without echo, or the
// first line of a file for scripts.
#pragma once

#include <string>

namespace zkpack {

// From the file when one is named, else from the terminal; with confirm,
// the terminal asks twice and both must agree.
std::string read_password(const std::string& password_file, bool confirm);

}  // namespace zkpack
