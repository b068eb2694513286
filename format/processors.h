// How many threads a parallel stage may start by default.
#pragma once

namespace bzip2_blocks {

// The processors this process may run on, at most `limit`, at least 1.
int usable_processors(int limit);

}  // namespace bzip2_blocks
