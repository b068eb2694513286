// wild_dollar_substitute on any text, in an environment of known variables.
// Input: the text.
#include "fuzz_support.h"

#include <zk/zk.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

using zkfuzz::require;

namespace {

// Names only this long take part in a lookup.
const std::string long_name(254, 'L');

struct Variable {
    std::string name;
    std::string value;
};

// Values with "$" and a backslash show whether a value is substituted again.
const Variable variables[] = {
    {"HOME", "/home/u"}, {"A", "alpha"}, {"_X", "under"}, {"B1", "$A\\$A"}, {"EMPTY", ""}, {long_name, "long"},
};

size_t longest_value() {
    size_t longest = 0;
    for (const Variable& variable : variables) longest = std::max(longest, variable.value.size());
    return longest;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    ::clearenv();
    for (const Variable& variable : variables) ::setenv(variable.name.c_str(), variable.value.c_str(), 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    zkfuzz::FuzzInput input(data, size);
    const std::string text = input.take_text();

    char* result = zk::wild_dollar_substitute(text.c_str());
    const auto dollars = static_cast<size_t>(std::count(text.begin(), text.end(), '$'));
    require(std::strlen(result) <= text.size() + dollars * longest_value(), "each \"$\" adds at most one value");
    if (dollars == 0) require(text == result, "a text without \"$\" is copied");
    zk::chk_free(result);
    return 0;
}
