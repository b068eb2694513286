#include <zk/base/chk.h>
#include <zk/file/filename.h>
#include <zk/string/dstr.h>
#include <zk/wild/wild.h>

#include "../file/file_internal.h"
#include "wild_internal.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

namespace zk {

namespace {

constexpr int collector_block_size = 32;

struct Walk {
    DSTR* collector;
    int flags;
    const char* probe_rest;  // a plain path that must exist below a collected directory, or null
};

bool is_dot_or_dotdot(const char* name) {
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

// Status without following a symbolic link, so that links are never entered.
bool read_link_status(const char* name, struct stat* status, int flags) {
    ++wild_lstat;
    const bool read = wild_stat(name, status, flags) == 0;
    --wild_lstat;
    return read;
}

bool probe_exists(const Walk& walk, const char* path) {
    char* probe = chk_makestr(path, wild_filename_delimiter, walk.probe_rest, nullptr);
    struct stat status;
    const bool exists = wild_stat(probe, &status, walk.flags) == 0;
    chk_free(probe);
    return exists;
}

void walk_directory(const Walk& walk, DIR* stream, const char* path, const struct stat* status);

// Walks the sub-directory `name` of the working directory, whose stream is
// `parent`, and comes back; false when it could not come back.
bool walk_subdirectory(const Walk& walk, DIR* parent, const char* name, const char* path, const struct stat* status) {
    if (::chdir(name) != 0) return true;
    if (DIR* stream = ::opendir(".")) {
        walk_directory(walk, stream, path, status);
        ::closedir(stream);
    }
    return ::fchdir(::dirfd(parent)) == 0;
}

// Reads the working directory through `stream`; `path` is its absolute name.
// With a known link count, reading stops once every sub-directory was seen:
// "." and ".." and each sub-directory account for one link each.
void walk_directory(const Walk& walk, DIR* stream, const char* path, const struct stat* status) {
    // A link count below 2 means the file system does not count sub-directories.
    const bool counting = status != nullptr && status->st_nlink >= 2;
    nlink_t remaining = counting ? status->st_nlink : 0;
    while (!counting || remaining > 0) {
        const struct dirent* entry = ::readdir(stream);
        if (entry == nullptr) break;
        if (is_dot_or_dotdot(entry->d_name)) {
            if (counting) --remaining;
            continue;
        }
        struct stat entry_status;
        if (!read_link_status(entry->d_name, &entry_status, walk.flags) || !S_ISDIR(entry_status.st_mode)) continue;
        if (counting) --remaining;
        // Two links: no sub-directories of its own.
        if (entry_status.st_nlink == 2) continue;

        char* full_path = chk_makestr(path, wild_filename_delimiter, entry->d_name, nullptr);
        const bool collected = walk.probe_rest == nullptr || probe_exists(walk, full_path);
        if (collected) dstr_add_mem(walk.collector, &full_path, sizeof full_path);
        const bool came_back = walk_subdirectory(walk, stream, entry->d_name, full_path, &entry_status);
        if (!collected) chk_free(full_path);
        if (!came_back) return;
    }
}

// The absolute name of `directory`, or null when the working directory it
// is relative to cannot be named.
char* absolute_name(const char* directory) {
    if (is_absolute(directory)) return chk_strdup(directory);
    char* cwd = current_directory();
    if (cwd == nullptr) return nullptr;
    char* absolute = chk_makestr(cwd, wild_filename_delimiter, directory, nullptr);
    chk_free(cwd);
    return absolute;
}

bool is_plain_path(const char* rest) { return rest != nullptr && std::strpbrk(rest, "$*[?") == nullptr; }

char* collected_path(const DSTR* collector, int index) {
    char* path;
    std::memcpy(&path, collector->dl_buf + static_cast<size_t>(index) * sizeof path, sizeof path);
    return path;
}

void take_collected(GlobList* list, int base, DSTR* collector) {
    const int collected = collector->dl_len / static_cast<int>(sizeof(char*));
    if (list->count + collected >= list->capacity - 2 && !wild_list_grow(list, list->capacity + collected)) {
        for (int index = 0; index < collected; ++index) chk_free(collected_path(collector, index));
        return;
    }
    for (int index = 0; index < collected; ++index) {
        char* path = collected_path(collector, index);
        if (base >= 0) {
            if (char* joined = filename_append_filename(list->entries[base].name, path)) {
                chk_free(path);
                path = joined;
            }
        }
        GLOB_ENTRY& entry = list->entries[list->count++];
        std::memset(&entry, 0, sizeof entry);
        entry.name = path;
        entry.size = static_cast<int32_t>(std::strlen(path));
    }
}

void expand_base(GlobList* list, int base, const char* start, const char* rest, int flags) {
    DSTR collector;
    dstr_init(&collector, collector_block_size);
    wild_star_star(&collector, start, flags, rest);
    take_collected(list, base, &collector);
    dstr_free(&collector);
}

}  // namespace

int wild_star_star(DSTR* collector, const char* directory, int flags, const char* rest) {
    struct stat status;
    const bool status_read = wild_stat(directory, &status, flags) == 0;
    if (status_read && !S_ISDIR(status.st_mode)) return 0;

    char* path = absolute_name(directory);
    if (path == nullptr) return 0;
    // A descriptor, not a name, takes us back: the name may be too long to hold.
    const int caller_directory = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    int walked = 0;
    if (caller_directory >= 0 && ::chdir(directory) == 0) {
        if (DIR* stream = ::opendir(".")) {
            const Walk walk{collector, flags, is_plain_path(rest) ? rest : nullptr};
            walk_directory(walk, stream, path, status_read ? &status : nullptr);
            ::closedir(stream);
            walked = 1;
        }
        if (::fchdir(caller_directory) != 0) get_cwd_changed_directory();
    }
    if (caller_directory >= 0) ::close(caller_directory);
    chk_free(path);
    return walked;
}

void wild_expand_star_star(GlobList* list, const char* rest, int flags) {
    const int bases = list->count;
    if (bases == 0) {
        expand_base(list, -1, ".", rest, flags);
        return;
    }
    for (int base = 0; base < bases; ++base) {
        if (list->entries[base].name[0] == '\0') continue;
        expand_base(list, base, wild_skip_extra_delimiters(list->entries[base].name), rest, flags);
    }
}

}  // namespace zk
