#include <zk/wild/brace.h>

#include <zk/base/chk.h>
#include <zk/sort/qsort.h>
#include <zk/string/dstr.h>
#include <zk/wild/simplify.h>
#include <zk/wild/wild.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdlib>
#include <cstring>

namespace zk {

namespace {

constexpr int split_on_blanks = 2;
constexpr int split_keeping_blanks = 3;

// Only this much of a variable name is looked up; the rest is still consumed.
constexpr size_t variable_name_limit = 254;

char* last_expansion = nullptr;

char** single_text_array(const char* text) {
    auto** result = static_cast<char**>(chk_alloc(2 * sizeof(char*)));
    result[0] = chk_strdup(text);
    result[1] = nullptr;
    return result;
}

void add_glob_entry(DSTR* entries, char* name) {
    GLOB_ENTRY entry{};
    entry.name = name;
    dstr_add_mem(entries, &entry, sizeof entry);
}

void add_glob_matches(DSTR* entries, const char* pattern, int flags) {
    GLOB_ENTRY* list = glob_filenames(pattern, flags);
    if (list == nullptr) return;
    int count = 0;
    while (list[count].name != nullptr) ++count;
    dstr_add_mem(entries, list, static_cast<int>(sizeof(GLOB_ENTRY)) * count);
    chk_free(list);
}

// The names of the entries, each dropped when it equals the one just taken.
char** take_distinct_names(GLOB_ENTRY* entries, int count, int word_count) {
    DSTR names;
    dstr_init(&names, static_cast<int>(sizeof(char*)) * (word_count + 1));
    const char* taken = nullptr;
    for (int i = 0; i < count; ++i) {
        if (taken != nullptr && std::strcmp(entries[i].name, taken) == 0) {
            chk_free(entries[i].name);
            continue;
        }
        taken = entries[i].name;
        dstr_add_mem(&names, &entries[i].name, sizeof(char*));
    }
    const char* end = nullptr;
    dstr_add_mem(&names, &end, sizeof end);
    return reinterpret_cast<char**>(names.dl_buf);
}

bool starts_variable_name(char ch) { return std::isalpha(static_cast<unsigned char>(ch)) != 0 || ch == '_'; }

bool continues_variable_name(char ch) { return std::isalnum(static_cast<unsigned char>(ch)) != 0 || ch == '_'; }

// Appends the value of the variable whose name starts at `name`; returns
// the position after the whole name.
const char* substitute_variable(DSTR* out, const char* name) {
    const char* end = name;
    while (continues_variable_name(*end)) ++end;
    std::array<char, variable_name_limit + 1> lookup{};
    const size_t length = std::min(static_cast<size_t>(end - name), variable_name_limit);
    std::memcpy(lookup.data(), name, length);
    if (const char* value = std::getenv(lookup.data())) {
        dstr_add_string(out, value, static_cast<int>(std::strlen(value)));
    }
    return end;
}

}  // namespace

char** shell_expand(const char* text, int flags) {
    if (text[0] == '!' || text[0] == '|') return single_text_array(text);

    int word_count = 0;
    const int mode = (flags & SHELL_KEEP_BLANKS) != 0 ? split_keeping_blanks : split_on_blanks;
    EXPANDED_WORD* words = brace_expand_string(text, &word_count, mode);
    // With several words the merged list is sorted once at the end.
    const int glob_flags = word_count > 1 ? flags | WILD_NOSORT : flags;

    DSTR entries;
    dstr_init(&entries, static_cast<int>(sizeof(GLOB_ENTRY)));
    for (int i = 0; i < word_count; ++i) {
        if (words[i].literal != 0) {
            add_glob_entry(&entries, words[i].text);
        } else {
            add_glob_matches(&entries, words[i].text, glob_flags);
            chk_free(words[i].text);
        }
    }
    chk_free(words);

    auto* merged = reinterpret_cast<GLOB_ENTRY*>(entries.dl_buf);
    const int count = entries.dl_len / static_cast<int>(sizeof(GLOB_ENTRY));
    if (word_count > 1) {
        glob_sort_flags = flags;
        zk::qsort(merged, static_cast<size_t>(count), sizeof(GLOB_ENTRY), glob_compare);
    }
    char** names = take_distinct_names(merged, count, word_count);
    dstr_free(&entries);
    return names;
}

char* wild_dollar_substitute(const char* text) {
    const char* dollar = std::strchr(text, '$');
    if (dollar == nullptr) return chk_strdup(text);

    DSTR out;
    dstr_init(&out, static_cast<int>(std::strlen(text)) + 1);
    dstr_add_string(&out, text, static_cast<int>(dollar - text));
    const char* p = dollar;
    while (*p != '\0') {
        if (*p != '$' || !starts_variable_name(p[1])) {
            dstr_add_char(&out, *p++);
        } else if (p > text && p[-1] == '\\') {
            // "\$NAME" is the literal text "$NAME": the backslash goes, the
            // name is then copied like any other text.
            dstr_set_size(&out, out.dl_len - 1);
            dstr_add_char(&out, *p++);
        } else {
            p = substitute_variable(&out, p + 1);
        }
    }
    dstr_add_char(&out, '\0');
    return reinterpret_cast<char*>(out.dl_buf);
}

const char* expand_filename(const char* name) {
    if (name[0] != '~' && !is_wildcard(name)) return name;

    chk_free(last_expansion);
    last_expansion = nullptr;
    char** names = shell_expand(name, WILD_FILES | WILD_DIRS);
    for (char** entry = names; *entry != nullptr; ++entry) {
        if (last_expansion == nullptr && (*entry)[0] != '\0') {
            last_expansion = *entry;
        } else {
            chk_free(*entry);
        }
    }
    chk_free(names);
    return last_expansion != nullptr ? last_expansion : "";
}

}  // namespace zk
