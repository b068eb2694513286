#include "processors.h"

#include <sched.h>

#include <algorithm>

namespace bzip2_blocks {

// The affinity mask, not the machine's count: a process confined to some
// processors gains nothing from more threads.
int usable_processors(int limit) {
    cpu_set_t set;
    CPU_ZERO(&set);
    const int count = ::sched_getaffinity(0, sizeof(set), &set) == 0 ? CPU_COUNT(&set) : 1;
    return std::clamp(count, 1, std::max(limit, 1));
}

}  // namespace bzip2_blocks
