// Wildcard matching of names against pattern lists, and globbing of path
// patterns into sorted lists of existing names.
#pragma once

#include <sys/stat.h>
#include <cstdint>

namespace zk {

struct GLOB_ENTRY {
    char* name;
    int32_t size;
    struct stat status;
};

constexpr int WILD_FILES = 0x0001;
constexpr int WILD_DIRS = 0x0002;
constexpr int WILD_DOTFILES = 0x0010;
constexpr int WILD_ALLDIRS = 0x0020;
constexpr int WILD_SORT_NOCASE = 0x0040;
constexpr int WILD_SORT_DIRSFIRST = 0x0080;
constexpr int WILD_NOSORT = 0x0100;
constexpr int WILD_NOCASE = 0x0400;
constexpr int WILD_LSTAT = 0x1000;

extern int wild_limit_timeout;
extern int wild_limit_max_count;
extern int wild_lstat;
extern int shell_error;
extern int glob_sort_flags;

void wild_init();
void wild_set_case_conversion(int on);
int wild_match(const char* name, const char* patterns, int flags);
GLOB_ENTRY* glob_filenames(const char* pattern, int flags);
int glob_compare(const void* a, const void* b);
int wild_stat(const char* path, struct stat* status, int flags);

}  // namespace zk
