// Internals of the library's sort that tests observe.
#pragma once

#include <cstddef>

namespace zk {

// Where a merge step of a run of 4096 bytes or more gets its scratch block;
// the C library's malloc unless a test watches or refuses the requests. The
// block is released with free.
extern void* (*merge_scratch_alloc)(size_t bytes);

}  // namespace zk
