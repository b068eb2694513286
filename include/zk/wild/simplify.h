// Path simplification and expansion: typed names unquoted, expanded, made
// absolute, with repeated delimiters and "." and ".." steps removed.
#pragma once

#include <zk/wild/wild.h>

namespace zk {

int is_wildcard(const char* name);
char* simplify_and_expand_filename(const char* name);
char* simplify_filename(const char* name);
void wild_collapse(char* name);
char* remove_dotdot(const char* name);
GLOB_ENTRY* expand_directory_tree(const char* path, int flags);

}  // namespace zk
