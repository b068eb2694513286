// The library's sort, with the C library's interface: a stable merge sort
// for more than five elements, a selection sort for five or fewer.
#pragma once

#include <cstddef>

namespace zk {

void qsort(void* base, size_t count, size_t size, int (*compare)(const void*, const void*));

}  // namespace zk
