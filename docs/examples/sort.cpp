// The library's sort, here in dictionary order: names that begin with a
// letter, then with a digit, then the rest; case does not count.
#include <zk/zk.h>

#include <cstdio>

namespace {

int by_dictionary(const void* a, const void* b) {
    return zk::strdictcmp(*static_cast<const char* const*>(a), *static_cast<const char* const*>(b));
}

}  // namespace

int main() {
    const char* names[] = {"zeta", "_private", "10-notes", "Alpha", "beta"};
    zk::qsort(names, 5, sizeof names[0], by_dictionary);
    for (const char* name : names) std::printf("%s\n", name);
}
