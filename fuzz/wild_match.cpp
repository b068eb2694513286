// wild_match on any name, pattern list and flags.
// Input: two flag bytes (high byte first), the name, a NUL, the patterns.
#include "fuzz_support.h"

#include <zk/zk.h>

#include <string>

using zkfuzz::require;

namespace {

// Matching takes time quadratic in the name, which is a file name: longer
// ones only slow the run down.
constexpr size_t name_max = 255;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    zkfuzz::FuzzInput input(data, size);
    const int high = input.take_byte();
    const int flags = high << 8 | input.take_byte();
    const std::string name = input.take_text();
    const std::string patterns = input.take_text();
    if (name.size() > name_max) return -1;

    const int matched = zk::wild_match(name.c_str(), patterns.c_str(), flags);
    require(matched == 0 || matched == 1, "wild_match answers 0 or 1");
    if (!name.empty() && name.find_first_of("*?[{;") == std::string::npos) {
        require(zk::wild_match(name.c_str(), name.c_str(), flags) == 1, "a plain name matches itself");
    }
    return 0;
}
