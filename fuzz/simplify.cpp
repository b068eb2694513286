// simplify_filename, wild_collapse and remove_dotdot on any name.
// Input: the name.
#include "fuzz_support.h"

#include <zk/zk.h>

#include <cstring>
#include <string>

using zkfuzz::require;

namespace {

bool is_passed_through(const std::string& name) { return name.empty() || name[0] == '|' || name[0] == '!'; }

void check_simplify_filename(const std::string& name) {
    char* simple = zk::simplify_filename(name.c_str());
    if (is_passed_through(name)) {
        require(name == simple, "an empty or command name comes back as it is");
    } else {
        // "~user" with an unknown user stays as typed, so stays relative; a
        // relative name with a blank and a double quote is joined to the
        // working directory inside double quotes.
        const char* start = simple[0] == '"' ? simple + 1 : simple;
        require(start[0] == '/' || simple[0] == '~', "a simplified name is absolute");
    }
    zk::chk_free(simple);
}

void check_wild_collapse(const std::string& name) {
    std::string copy = name;
    zk::wild_collapse(copy.data());
    require(std::strlen(copy.c_str()) <= name.size(), "wild_collapse never lengthens a name");
}

void check_remove_dotdot(const std::string& name) {
    char* removed = zk::remove_dotdot(name.c_str());
    require(std::strlen(removed) <= name.size(), "remove_dotdot never lengthens a name");
    zk::chk_free(removed);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    zkfuzz::FuzzInput input(data, size);
    const std::string name = input.take_text();
    check_simplify_filename(name);
    check_wild_collapse(name);
    check_remove_dotdot(name);
    return 0;
}
