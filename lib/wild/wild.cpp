#include <zk/file/filename.h>
#include <zk/wild/wild.h>

#include "wild_internal.h"

#include <strings.h>

#include <cstdlib>
#include <cstring>

namespace zk {

int wild_limit_timeout = 30;
int wild_limit_max_count = 5000;
int wild_lstat = 0;
int shell_error = 0;
int glob_sort_flags = 0;

time_t (*wild_clock)(time_t*) = ::time;

namespace {

// Kept for callers that switch it; matching and sorting fold case only by flags.
int case_conversion_count = 0;

void read_limit(const char* variable, int* limit) {
    if (const char* value = ::getenv(variable)) *limit = ::atoi(value);
}

}  // namespace

void wild_init() {
    read_limit("ZK_WILD_LIMIT_TIMEOUT", &wild_limit_timeout);
    read_limit("ZK_WILD_LIMIT_MAX_COUNT", &wild_limit_max_count);
}

void wild_set_case_conversion(int on) { case_conversion_count += on != 0 ? 1 : -1; }

int wild_stat(const char* path, struct stat* status, int flags) {
    if (wild_lstat != 0 || (flags & WILD_LSTAT) != 0) return lstat64(path, status);
    return stat64(path, status);
}

int glob_compare(const void* a, const void* b) {
    const auto* first = static_cast<const GLOB_ENTRY*>(a);
    const auto* second = static_cast<const GLOB_ENTRY*>(b);
    const int sort_flags = glob_sort_flags & 0xFF;
    if ((sort_flags & WILD_SORT_DIRSFIRST) != 0) {
        const bool first_is_dir = S_ISDIR(first->status.st_mode);
        if (first_is_dir != S_ISDIR(second->status.st_mode)) return first_is_dir ? -1 : 1;
    }
    if ((sort_flags & WILD_SORT_NOCASE) != 0) return ::strcasecmp(first->name, second->name);
    return std::strcmp(first->name, second->name);
}

const char* wild_skip_extra_delimiters(const char* name) {
    while (filename_is_delim(name[0]) && filename_is_delim(name[1])) ++name;
    return name;
}

}  // namespace zk
