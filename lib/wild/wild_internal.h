// The wildcard engine's internal operations, shared by its source files and
// its tests. Not installed.
#pragma once

#include <zk/string/dstr.h>
#include <zk/wild/wild.h>

#include <dirent.h>

#include <ctime>

namespace zk {

// The working list of one glob_filenames call. Entries from `count` on are
// not set; `count` stays at most `capacity` - 2 so the closing null fits.
struct GlobList {
    GLOB_ENTRY* entries;
    int count;
    int capacity;
    bool wildcard_seen;
    time_t deadline;  // 0 when the call has no time limit
};

// The clock that deadlines are set and checked against. Tests replace it to
// make time pass without waiting.
extern time_t (*wild_clock)(time_t*);

// `name` past all but the last of its leading delimiters.
const char* wild_skip_extra_delimiters(const char* name);

// Grows the list to `capacity` entries; false when memory ran out.
bool wild_list_grow(GlobList* list, int capacity);

// Builds the component that starts at `cursor` into `component` (NUL
// terminated) and returns where the next one starts, or null when it was
// the last.
const char* wild_next_component(const char* cursor, DSTR* component);

void wild_append_literal(GlobList* list, const char* component);

// A wildcard component other than "**": each base is replaced by its matches.
void wild_expand_component(GlobList* list, const char* component, int flags);

// The next name in `directory` that the component accepts, in a buffer that
// lives until the next call; null at the end. `*stream` is opened on the
// first call and closed at the end.
const char* wild_read_match(const char* directory, const char* component, int flags, DIR** stream);

// The "**" component: adds the sub-directories below each base. `rest` is
// the pattern after the component, null when it was the last.
void wild_expand_star_star(GlobList* list, const char* rest, int flags);

// Walks the tree below `directory`, appending to `collector` pointers to new
// absolute paths of its sub-directories. Returns 1 when it walked, 0 when the
// directory could not be entered. The working directory is the same after.
int wild_star_star(DSTR* collector, const char* directory, int flags, const char* rest);

// Keeps the entries that pass the type filter in a new list of the right
// size and releases `list`; a list without wildcard components is returned
// as it is.
GLOB_ENTRY* wild_finish(GLOB_ENTRY* list, bool wildcard_seen, int flags);

}  // namespace zk
