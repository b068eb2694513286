#include "package_format.h"

namespace package_format {

const char MARKER_HEAD[] = "\x01Install";
const char MARKER_TAIL[] = "\x07Magic";

}  // namespace package_format
