// The installer being written must stay apart from what it is made of.
#pragma once

#include "options.h"

#include <string>
#include <vector>

namespace zkpack {

// Refuses an output that is the stub or a record's file (the same file,
// whatever its name), which the rename would replace, or that lies inside a
// --tree, which would then hold the unfinished installer.
void check_output_apart(const std::string& output, const std::string& stub, const std::vector<RecordSpec>& records);

}  // namespace zkpack
