// What an archive entry must be for the installer to make it as meant: the
// installer's own decisions, worded as zkpack's refusals. Shared by --tree
// and --archive.
#pragma once

#include <string>
#include <string_view>

#include "tar_format.h"

namespace zkpack {

// Why the installer would skip the entry, or "" when it makes it. type is
// the tar type flag the entry has or would have.
std::string entry_problem(tar_format::EntryKind kind, unsigned char type, std::string_view name,
                          std::string_view link_name = {});

// What the installer does not make: "a FIFO; the installer ...".
std::string type_problem(std::string_view kind);

}  // namespace zkpack
