// Turns a library result into a value the assertions can compare, releasing it.
#pragma once

#include <zk/base/chk.h>

#include <optional>
#include <string>

namespace zktest {

inline std::optional<std::string> take(char* text) {
    if (text == nullptr) return std::nullopt;
    std::string copy(text);
    zk::chk_free(text);
    return copy;
}

}  // namespace zktest
