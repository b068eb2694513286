#include <zk/base/chk.h>
#include <zk/file/filename.h>
#include <zk/sort/qsort.h>
#include <zk/string/dstr.h>
#include <zk/wild/wild.h>

#include "wild_internal.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace zk {

namespace {

constexpr int initial_capacity = 128;
constexpr int root_block_size = 16;
constexpr int component_block_size = 16;

bool is_command_name(const char* pattern) { return pattern[0] == '|' || pattern[0] == '!'; }

GLOB_ENTRY* command_entry(const char* pattern) {
    auto* list = static_cast<GLOB_ENTRY*>(chk_zalloc(2 * sizeof(GLOB_ENTRY)));
    if (list != nullptr) list[0].name = chk_strdup(pattern);
    return list;
}

void add_entry(GlobList* list, char* name, int size) {
    GLOB_ENTRY& entry = list->entries[list->count++];
    std::memset(&entry, 0, sizeof entry);
    entry.name = name;
    entry.size = size;
}

// Starts the list with the root of an absolute pattern; returns the rest.
const char* add_root(GlobList* list, const char* pattern) {
    const char* after_unc = filename_skip_unc(pattern);
    if (after_unc != pattern) {
        const auto length = static_cast<int>(after_unc - pattern);
        add_entry(list, chk_strndup(pattern, static_cast<size_t>(length)), length + root_block_size);
        return after_unc;
    }
    if (filename_is_delim(pattern[0])) {
        auto* root = static_cast<char*>(chk_alloc(root_block_size));
        std::strncpy(root, filename_delimiter(), root_block_size - 1);
        root[root_block_size - 1] = '\0';
        add_entry(list, root, root_block_size);
        return pattern + 1;
    }
    return pattern;
}

bool is_wildcard_component(const char* component) { return std::strpbrk(component, "*?[") != nullptr; }

void expand_component(GlobList* list, const char* component, const char* rest, int flags) {
    // An earlier wildcard component that matched nothing leaves nothing to
    // build on; starting afresh from the working directory would name paths
    // the pattern does not.
    if (list->count == 0 && list->wildcard_seen) return;
    if (component[0] == '$') {
        if (const char* value = ::getenv(component + 1)) component = value;
    }
    if (!is_wildcard_component(component)) {
        wild_append_literal(list, component);
        return;
    }
    list->wildcard_seen = true;
    if (std::strcmp(component, "**") == 0) {
        wild_expand_star_star(list, rest, flags);
    } else {
        wild_expand_component(list, component, flags);
    }
}

// Reads each entry's status; with wildcards in the pattern, names that do
// not exist drop out, otherwise they stay with a zero status.
void read_status(GlobList* list, int flags) {
    for (int index = 0; index < list->count; ++index) {
        GLOB_ENTRY& entry = list->entries[index];
        std::memset(&entry.status, 0, sizeof entry.status);
        if (entry.name[0] != '\0' && wild_stat(entry.name, &entry.status, flags) == 0) continue;
        const int error = entry.name[0] == '\0' ? ENOENT : errno;
        std::memset(&entry.status, 0, sizeof entry.status);
        if (list->wildcard_seen && error != EFBIG) entry.name[0] = '\0';
    }
}

GLOB_ENTRY* expand_pattern(const char* pattern, int flags) {
    if (is_command_name(pattern)) return command_entry(pattern);
    shell_error = 0;

    GlobList list{};
    if (wild_limit_timeout != 0) list.deadline = wild_clock(nullptr) + wild_limit_timeout;
    if (!wild_list_grow(&list, initial_capacity)) return nullptr;

    const char* cursor = add_root(&list, pattern);
    if (*cursor == '\0') cursor = nullptr;
    DSTR component;
    dstr_init(&component, component_block_size);
    while (cursor != nullptr) {
        cursor = wild_next_component(cursor, &component);
        expand_component(&list, reinterpret_cast<const char*>(component.dl_buf), cursor, flags);
    }
    dstr_free(&component);
    list.entries[list.count].name = nullptr;

    read_status(&list, flags);
    glob_sort_flags = flags;
    if ((flags & WILD_NOSORT) == 0) {
        zk::qsort(list.entries, static_cast<size_t>(list.count), sizeof(GLOB_ENTRY), glob_compare);
    }
    return wild_finish(list.entries, list.wildcard_seen, flags);
}

bool passes_type_filter(const GLOB_ENTRY& entry, int flags) {
    const bool is_dir = S_ISDIR(entry.status.st_mode);
    return ((flags & WILD_DIRS) != 0 && is_dir) || ((flags & WILD_FILES) != 0 && !is_dir);
}

void reduce_leading_delimiters(char* name) {
    const char* kept = wild_skip_extra_delimiters(name);
    if (kept != name) std::memmove(name, kept, std::strlen(kept) + 1);
}

}  // namespace

bool wild_list_grow(GlobList* list, int capacity) {
    auto* grown =
        static_cast<GLOB_ENTRY*>(chk_realloc(list->entries, static_cast<size_t>(capacity) * sizeof(GLOB_ENTRY)));
    if (grown == nullptr) return false;
    list->entries = grown;
    list->capacity = capacity;
    return true;
}

const char* wild_next_component(const char* cursor, DSTR* component) {
    const char* end = cursor;
    while (*end != '\0' && !filename_is_delim(*end)) ++end;
    dstr_clear(component);
    dstr_add_string(component, cursor, static_cast<int>(end - cursor));
    dstr_terminate(component);
    if (*end != '\0') ++end;
    return *end != '\0' ? end : nullptr;
}

void wild_append_literal(GlobList* list, const char* component) {
    const auto component_length = static_cast<int>(std::strlen(component));
    if (list->count == 0) {
        add_entry(list, chk_strdup(component), component_length + 1);
        return;
    }
    for (int index = 0; index < list->count; ++index) {
        GLOB_ENTRY& entry = list->entries[index];
        if (entry.name[0] == '\0') continue;
        const auto name_length = static_cast<int>(std::strlen(entry.name));
        if (component_length + name_length + 2 >= entry.size) {
            const int size = (component_length + entry.size + 35) & ~31;
            auto* grown = static_cast<char*>(chk_realloc(entry.name, static_cast<size_t>(size)));
            if (grown == nullptr) continue;
            entry.name = grown;
            entry.size = size;
        }
        if (!filename_is_delim(entry.name[name_length - 1])) std::strcat(entry.name, wild_filename_delimiter);
        std::strcat(entry.name, component);
    }
}

GLOB_ENTRY* wild_finish(GLOB_ENTRY* list, bool wildcard_seen, int flags) {
    if (!wildcard_seen) return list;
    int kept = 0;
    for (GLOB_ENTRY* entry = list; entry->name != nullptr; ++entry) {
        if (entry->name[0] == '\0') continue;
        reduce_leading_delimiters(entry->name);
        if (passes_type_filter(*entry, flags)) {
            ++kept;
        } else {
            entry->name[0] = '\0';
        }
    }
    auto* result = static_cast<GLOB_ENTRY*>(chk_zalloc(static_cast<size_t>(kept + 1) * sizeof(GLOB_ENTRY)));
    int next = 0;
    for (GLOB_ENTRY* entry = list; entry->name != nullptr; ++entry) {
        if (result != nullptr && entry->name[0] != '\0') {
            result[next++] = *entry;
        } else {
            chk_free(entry->name);
        }
    }
    chk_free(list);
    return result;
}

GLOB_ENTRY* glob_filenames(const char* pattern, int flags) {
    if (pattern == nullptr) return nullptr;
    char* expanded = tilde_expand(pattern);
    if (expanded == nullptr) return nullptr;
    GLOB_ENTRY* result = expand_pattern(expanded, flags);
    chk_free(expanded);
    return result;
}

}  // namespace zk
