// zkpack cat: one record's payload on standard output, as the installer's
// handler would see it once decompressed.
#pragma once

#include <cstdint>
#include <string>

namespace zkpack {

// Returns the exit status; fails with the reason when the record is missing
// or its bzip2 stream is not whole.
int cat_record(const std::string& path, uint64_t index);

}  // namespace zkpack
