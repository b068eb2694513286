// zkpack create: the stub, the header, the records, the checksum.
#pragma once

#include "options.h"

namespace zkpack {

void create_package(const Options& options);

}  // namespace zkpack
