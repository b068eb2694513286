// The package format as zkpack writes and reads it: the shared statement of
// the format, in zkpack's namespace.
#pragma once

#include "package_checksum.h"
#include "package_format.h"

namespace zkpack {

using namespace package_format;

}  // namespace zkpack
