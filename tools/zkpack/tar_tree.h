// --tree, second step: the scanned tree as a ustar stream, owner and group
// 0 and no user or group names, so the stream depends only on the files
// (and, unless SOURCE_DATE_EPOCH is set, their modification times).
#pragma once

#include "io.h"
#include "progress.h"
#include "tree_scan.h"

#include <ctime>
#include <optional>

namespace zkpack {

// SOURCE_DATE_EPOCH when set; fails when it is not a number of seconds.
std::optional<time_t> source_date_epoch();

// Writes the tree into sink. Files are read block by block as they go; a
// file that changed since the scan fails the write.
void write_tree(const Tree& tree, std::optional<time_t> mtime, const ByteSink& sink, Progress& progress);

}  // namespace zkpack
