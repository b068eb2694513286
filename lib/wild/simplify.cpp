#include <zk/wild/simplify.h>

#include <zk/base/chk.h>
#include <zk/file/filename.h>
#include <zk/string/strutil.h>

#include <sys/stat.h>

#include <cstring>

namespace zk {

namespace {

constexpr const char* wildcard_characters = "$*[?";

// Past this the tree walk gives up, so a symbolic link that points back up
// the tree cannot recurse without end.
constexpr int tree_depth_limit = 1000;

bool is_command_or_empty(const char* name) { return name[0] == '\0' || name[0] == '|' || name[0] == '!'; }

bool is_dot_dot_at(const char* p) { return p[0] == '.' && p[1] == '.'; }

// A ".." step may only cancel a real name: cancelling ".", an empty
// component or another ".." would change what the path refers to.
bool is_name_component(const char* begin, const char* end) {
    const auto length = end - begin;
    if (length == 0) return false;
    if (length == 1 && begin[0] == '.') return false;
    return !(length == 2 && is_dot_dot_at(begin));
}

// Nearest delimiter before `from` (exclusive), or null.
char* last_delimiter_before(char* text, char* from) {
    for (char* p = from; p > text;) {
        --p;
        if (filename_is_delim(*p)) return p;
    }
    return nullptr;
}

void collapse_delimiter_runs(char* name) {
    char* out = name;
    for (const char* in = name; *in != '\0'; ++in) {
        if (filename_is_delim(*in) && out > name && filename_is_delim(out[-1])) continue;
        *out++ = *in;
    }
    *out = '\0';
}

char* make_absolute(char* copy) {
    if (copy[0] == '~') return tilde_expand(copy);
    const char* cwd = get_cwd();
    if (std::strcmp(cwd, "/") == 0) return chk_makestr("/", copy, nullptr);
    return filename_append_filename(cwd, copy);
}

// A typed name quoted with ' or " loses the opening quote and, when present,
// the matching closing one; quotes inside stay.
char* strip_outer_quotes(const char* text) {
    if (text[0] != '"' && text[0] != '\'') return chk_strdup(text);
    char* copy = chk_strdup(text + 1);
    const size_t length = std::strlen(copy);
    if (length > 0 && copy[length - 1] == text[0]) copy[length - 1] = '\0';
    return copy;
}

void free_glob_names(GLOB_ENTRY* entries) {
    for (GLOB_ENTRY* entry = entries; entry->name != nullptr; ++entry) chk_free(entry->name);
}

// The result of expand_directory_tree, grown by its own capacity rule.
struct TreeResult {
    GLOB_ENTRY* entries = nullptr;
    int count = 0;
    int capacity = 0;
};

void tree_append(TreeResult& tree, const GLOB_ENTRY* entries, int n) {
    if (entries == nullptr) return;
    if (n < 0) {
        n = 0;
        while (entries[n].name != nullptr) ++n;
    }
    if (n == 0) return;
    if (tree.count == 0) {
        tree.capacity = 2 * n;
        tree.entries = static_cast<GLOB_ENTRY*>(chk_alloc(sizeof(GLOB_ENTRY) * tree.capacity));
    } else if (tree.count + n >= tree.capacity) {
        tree.capacity += 2 * n + 4;
        tree.entries = static_cast<GLOB_ENTRY*>(chk_realloc(tree.entries, sizeof(GLOB_ENTRY) * tree.capacity));
    }
    std::memcpy(tree.entries + tree.count, entries, sizeof(GLOB_ENTRY) * n);
    tree.count += n;
    tree.entries[tree.count].name = nullptr;
}

bool is_dot_or_dot_dot(const char* name) { return std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0; }

GLOB_ENTRY* walk_directory_tree(const char* path, int flags, int depth) {
    if (depth > tree_depth_limit) return nullptr;
    // A wildcard in the last component is the caller's own pattern; the
    // directory part stays with it so the pattern is matched where it points.
    char* pattern = depth == 0 && is_wildcard(filename_basename(path))
                        ? chk_strdup(path)
                        : chk_makestr(path, filename_delimiter(), "*", nullptr);
    GLOB_ENTRY* list = glob_filenames(pattern, flags);
    chk_free(pattern);
    if (list == nullptr) return nullptr;

    TreeResult tree;
    for (GLOB_ENTRY* entry = list; entry->name != nullptr; ++entry) {
        if (!S_ISDIR(entry->status.st_mode)) {
            tree_append(tree, entry, 1);
            continue;
        }
        if (!is_dot_or_dot_dot(filename_basename(entry->name))) {
            GLOB_ENTRY* below = walk_directory_tree(entry->name, flags, depth + 1);
            tree_append(tree, below, -1);
            chk_free(below);
        }
        chk_free(entry->name);
    }
    chk_free(list);
    return tree.entries;
}

}  // namespace

int is_wildcard(const char* name) { return std::strpbrk(name, wildcard_characters) != nullptr ? 1 : 0; }

char* simplify_and_expand_filename(const char* text) {
    if (is_command_or_empty(text)) return chk_strdup(text);
    char* copy = strip_outer_quotes(text);
    if (is_wildcard(copy)) {
        // Without type flags a "*?[" pattern globs to nothing and stays as
        // typed; what globbing does here is expand "$NAME" components.
        GLOB_ENTRY* list = glob_filenames(copy, 0);
        if (list == nullptr) return copy;
        if (list[0].name != nullptr) {
            chk_free(copy);
            copy = list[0].name;
            free_glob_names(list + 1);
        }
        chk_free(list);
    }
    char* result = simplify_filename(copy);
    chk_free(copy);
    return result;
}

char* simplify_filename(const char* name) {
    if (is_command_or_empty(name)) return chk_strdup(name);
    char* copy = chk_strdup(name);
    collapse_delimiter_runs(copy);
    const size_t length = std::strlen(copy);
    if (length > 1 && filename_is_delim(copy[length - 1])) copy[length - 1] = '\0';
    if (!filename_is_delim(copy[0])) {
        char* absolute = make_absolute(copy);
        chk_free(copy);
        copy = absolute;
    }
    wild_collapse(copy);
    return copy;
}

void wild_collapse(char* name) {
    char* p = name;
    while (*p != '\0') {
        if (!filename_is_delim(*p)) {
            ++p;
            continue;
        }
        char* run_end = p + 1;
        while (filename_is_delim(*run_end)) ++run_end;
        if (run_end != p + 1) overlap_strcpy(p + 1, run_end);

        if (p[1] == '.' && filename_is_delim(p[2])) {  // "/./"
            overlap_strcpy(p, p + 2);
            p = name;
        } else if (p[1] == '.' && p[2] == '\0') {  // trailing "/.", the root keeps its delimiter
            p[p == name ? 1 : 0] = '\0';
            return;
        } else if (is_dot_dot_at(p + 1) && filename_is_delim(p[3])) {  // "/../"
            if (p == name) {
                overlap_strcpy(p, p + 3);
                p = name;
                continue;
            }
            char* previous = last_delimiter_before(name, p);
            if (previous != nullptr && is_name_component(previous + 1, p)) {
                overlap_strcpy(previous, p + 3);
                p = name;
            } else {
                ++p;
            }
        } else if (is_dot_dot_at(p + 1) && p[3] == '\0') {  // trailing "/.."
            char* previous = last_delimiter_before(name, p);
            if (previous != nullptr && is_name_component(previous + 1, p)) {
                previous[previous == name ? 1 : 0] = '\0';
            }
            return;
        } else {
            ++p;
        }
    }
}

char* remove_dotdot(const char* name) {
    // The output never outgrows the input, so one block of its size serves
    // names of any length.
    char* out = static_cast<char*>(chk_alloc(std::strlen(name) + 1));
    char* end = out;
    const char* in = name;
    while (*in != '\0') {
        if (!(filename_is_delim(in[0]) && is_dot_dot_at(in + 1) && filename_is_delim(in[3]))) {
            *end++ = *in++;
            continue;
        }
        char* previous = last_delimiter_before(out, end);
        const char* component = previous != nullptr ? previous + 1 : out;
        if (end == out) {
            // Nothing to climb over: at the root ".." stays at the root; after
            // an emptied relative name it climbs out of "." and is kept.
            in += is_absolute(name) ? 3 : 1;
        } else if (!is_name_component(component, end)) {
            *end++ = *in++;
        } else if (previous != nullptr) {
            end = previous;
            in += 3;
        } else {
            end = out;
            in += 4;
        }
    }
    *end = '\0';
    return out;
}

GLOB_ENTRY* expand_directory_tree(const char* path, int flags) { return walk_directory_tree(path, flags, 0); }

}  // namespace zk
