#include <zk/base/chk.h>
#include <zk/file/filename.h>
#include <zk/string/strutil.h>
#include <zk/wild/wild.h>

#include "wild_internal.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>

namespace zk {

namespace {

constexpr size_t match_buffer_initial_size = 64;
constexpr size_t match_buffer_slack = 32;

// Holds the name wild_read_match returns. It lives for the whole process so
// a directory read allocates only when a longer name comes along.
struct MatchBuffer {
    char* text;
    size_t size;
};
MatchBuffer match_buffer{};

bool match_buffer_fit(size_t length) {
    if (match_buffer.text == nullptr) {
        match_buffer.text = static_cast<char*>(chk_alloc(match_buffer_initial_size));
        if (match_buffer.text == nullptr) return false;
        match_buffer.size = match_buffer_initial_size;
    }
    if (length + 1 >= match_buffer.size) {
        auto* grown = static_cast<char*>(chk_realloc(match_buffer.text, length + match_buffer_slack));
        if (grown == nullptr) return false;
        match_buffer.text = grown;
        match_buffer.size = length + match_buffer_slack;
    }
    return true;
}

bool is_directory_path(const char* path) {
    struct stat status;
    return ::stat(path, &status) == 0 && S_ISDIR(status.st_mode);
}

// WILD_ALLDIRS: a sub-directory that the component does not match is taken
// all the same, so that later components can look inside it.
bool taken_as_directory(const char* directory, const char* name, const char* component, int flags) {
    if ((flags & WILD_ALLDIRS) == 0 || std::strcmp(name, ".") == 0) return false;
    if (name[0] == '.' && (flags & WILD_DOTFILES) == 0) return false;
    if (std::strcmp(component, "*") == 0) return false;
    const size_t total = std::strlen(directory) + std::strlen(name) + 2;
    if (!match_buffer_fit(total)) return false;
    std::snprintf(match_buffer.text, match_buffer.size, "%s%s%s", directory, filename_delimiter(), name);
    const bool is_directory = is_directory_path(match_buffer.text);
    std::strcpy(match_buffer.text, name);
    return is_directory;
}

bool open_directory(const char* directory, int flags, DIR** stream) {
    struct stat status;
    if (wild_stat(directory, &status, flags) == 0 && !S_ISDIR(status.st_mode)) return false;
    *stream = ::opendir(directory);
    return *stream != nullptr;
}

enum class Added { more, limit_reached };

// Appends one match as a new entry, then checks the two limits. Running out
// of memory stops the component as a limit does.
Added add_match(GlobList* list, int base, const char* match, int* matches) {
    if (list->count >= list->capacity - 2 && !wild_list_grow(list, list->capacity * 2)) {
        return Added::limit_reached;
    }
    GLOB_ENTRY& entry = list->entries[list->count];
    std::memset(&entry, 0, sizeof entry);
    if (base >= 0) {
        entry.name = filename_append_filename(list->entries[base].name, match);
        if (entry.name == nullptr) return Added::limit_reached;
        entry.size = static_cast<int32_t>(std::strlen(entry.name));
    } else {
        entry.size = static_cast<int32_t>(std::strlen(match) + 10);
        entry.name = static_cast<char*>(chk_alloc(static_cast<size_t>(entry.size)));
        if (entry.name == nullptr) return Added::limit_reached;
        std::strcpy(entry.name, match);
    }
    ++list->count;

    ++*matches;
    if (wild_limit_max_count != 0 && *matches > wild_limit_max_count) {
        trace_log("wild: limit_max_count reached %d\n", wild_limit_max_count);
        return Added::limit_reached;
    }
    if (list->deadline != 0 && list->count % 4 == 0 && wild_clock(nullptr) > list->deadline) {
        trace_log("wild: limit_timeout reached %d\n", wild_limit_timeout);
        return Added::limit_reached;
    }
    return Added::more;
}

// Replaces one base (or, with `base` -1, the working directory) by its
// matches; false when a limit stopped the component, leaving the base as it is.
bool expand_base(GlobList* list, int base, const char* component, int flags, int* matches) {
    DIR* stream = nullptr;
    for (;;) {
        const char* directory = base < 0 ? "." : wild_skip_extra_delimiters(list->entries[base].name);
        const char* match = wild_read_match(directory, component, flags, &stream);
        if (match == nullptr) break;
        if (add_match(list, base, match, matches) == Added::limit_reached) {
            if (stream != nullptr) ::closedir(stream);
            return false;
        }
    }
    if (base >= 0) list->entries[base].name[0] = '\0';
    return true;
}

}  // namespace

void wild_expand_component(GlobList* list, const char* component, int flags) {
    int matches = 0;
    const int bases = list->count;
    if (bases == 0) {
        expand_base(list, -1, component, flags, &matches);
        return;
    }
    for (int base = 0; base < bases; ++base) {
        if (list->entries[base].name[0] == '\0') continue;
        if (!expand_base(list, base, component, flags, &matches)) return;
    }
}

const char* wild_read_match(const char* directory, const char* component, int flags, DIR** stream) {
    if (*stream == nullptr && !open_directory(directory, flags, stream)) return nullptr;
    while (const struct dirent* entry = ::readdir(*stream)) {
        if (!match_buffer_fit(std::strlen(entry->d_name))) break;
        std::strcpy(match_buffer.text, entry->d_name);
        if (wild_match(entry->d_name, component, flags) != 0 ||
            taken_as_directory(directory, entry->d_name, component, flags)) {
            return match_buffer.text;
        }
    }
    ::closedir(*stream);
    *stream = nullptr;
    return nullptr;
}

}  // namespace zk
