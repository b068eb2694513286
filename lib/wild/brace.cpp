#include <zk/wild/brace.h>

#include <zk/base/chk.h>
#include <zk/string/dstr.h>
#include <zk/string/strutil.h>

#include <cstring>

namespace zk {

namespace {

constexpr int32_t quoted_word_flag = 4;

char* copy_span(const char* begin, const char* end) {
    const auto length = static_cast<size_t>(end - begin);
    auto* copy = static_cast<char*>(chk_alloc(length + 1));
    std::memcpy(copy, begin, length);
    copy[length] = '\0';
    return copy;
}

BRACE* new_brace(int32_t count) {
    auto* list = static_cast<BRACE*>(chk_zalloc(sizeof(BRACE)));
    if (count > 0) {
        list->items = static_cast<char**>(chk_zalloc(sizeof(char*) * count));
        list->count = count;
        list->capacity = count;
    }
    return list;
}

void free_brace(BRACE* list) {
    for (int32_t i = 0; i < list->count; ++i) chk_free(list->items[i]);
    chk_free(list->items);
    chk_free(list);
}

struct BraceGroup {
    char* open;   // the "{"
    char* close;  // its matching "}", or null when the text ends first
    int alternatives;
};

// A "{" right before "}" or the end of the text opens no group.
char* find_group_opener(char* text) {
    for (char* p = text; *p != '\0'; ++p) {
        if (*p == '{' && p[1] != '}' && p[1] != '\0') return p;
    }
    return nullptr;
}

BraceGroup measure_group(char* open) {
    BraceGroup group{open, nullptr, 1};
    int depth = 1;
    for (char* p = open + 1; *p != '\0'; ++p) {
        if (*p == '{') {
            ++depth;
        } else if (*p == '}') {
            if (--depth == 0) {
                group.close = p;
                break;
            }
        } else if (*p == ',' && depth == 1) {
            ++group.alternatives;
        }
    }
    return group;
}

void add_expanded_word(DSTR* words, char* text, int32_t literal) {
    const EXPANDED_WORD word{text, literal};
    dstr_add_mem(words, &word, sizeof word);
}

// The text after an opening double quote, less a closing one.
char* unquoted_copy(const char* text) {
    const char* begin = text + 1;
    const char* end = begin + std::strlen(begin);
    if (end > begin && end[-1] == '"') --end;
    return copy_span(begin, end);
}

void add_brace_expansions(DSTR* words, const char* text) {
    BRACE* list = brace_expand(text);
    for (int32_t i = 0; i < list->count; ++i) {
        if (list->items[i][0] != '\0') {
            add_expanded_word(words, list->items[i], 0);
        } else {
            chk_free(list->items[i]);
        }
    }
    chk_free(list->items);
    chk_free(list);
}

}  // namespace

EXPANDED_WORD* brace_expand_string(const char* text, int* count_out, int mode) {
    int word_count = 0;
    QWORD* qwords = string_qword_split(text, &word_count, mode);
    DSTR words;
    dstr_init(&words, static_cast<int>(sizeof(EXPANDED_WORD)) * (word_count + 1));
    for (QWORD* word = qwords; word->text != nullptr; ++word) {
        if (word->text[0] == '"') {
            add_expanded_word(&words, unquoted_copy(word->text), 1);
            chk_free(word->text);
        } else if (word->flags == quoted_word_flag || std::strchr(word->text, '{') == nullptr) {
            add_expanded_word(&words, word->text, word->flags == quoted_word_flag ? 1 : 0);
        } else {
            add_brace_expansions(&words, word->text);
            chk_free(word->text);
        }
    }
    chk_free(qwords);
    *count_out = words.dl_len / static_cast<int>(sizeof(EXPANDED_WORD));
    dstr_reserve_zero(&words, static_cast<int>(sizeof(EXPANDED_WORD)));
    return reinterpret_cast<EXPANDED_WORD*>(words.dl_buf);
}

BRACE* brace_expand(const char* text) {
    BRACE* list = new_brace(1);
    list->items[0] = chk_strdup(text);
    do_brace_expand(list);
    return list;
}

void do_brace_expand(BRACE* list) {
    int32_t i = 0;
    while (i < list->count) {
        if (std::strchr(list->items[i], '{') == nullptr) {
            ++i;
            continue;
        }
        BRACE* expansion = do_brace_expand2(list->items[i]);
        // The expansions take the text's place and are walked in turn, since
        // an alternative may hold groups of its own.
        const bool expanded = expansion->count > 0;
        brace_insert(list, expansion, i);
        if (!expanded) ++i;
    }
}

BRACE* do_brace_expand2(char* text) {
    char* open = find_group_opener(text);
    if (open == nullptr) return new_brace(0);
    const BraceGroup group = measure_group(open);
    if (group.close == nullptr) return new_brace(0);

    char* inside = copy_span(group.open + 1, group.close);
    BRACE* alternatives = do_brace_enum(inside, group.alternatives);
    chk_free(inside);
    BRACE* rests = brace_expand(group.close + 1);
    char* prefix = copy_span(text, group.open);

    BRACE* result = new_brace(alternatives->count * rests->count);
    int32_t slot = 0;
    for (int32_t a = 0; a < alternatives->count; ++a) {
        for (int32_t r = 0; r < rests->count; ++r) {
            result->items[slot++] = chk_makestr(prefix, alternatives->items[a], rests->items[r], nullptr);
        }
    }
    chk_free(prefix);
    free_brace(alternatives);
    free_brace(rests);
    return result;
}

BRACE* do_brace_enum(const char* text, int n) {
    BRACE* list = new_brace(n);
    int32_t slot = 0;
    int depth = 0;
    const char* start = text;
    for (const char* p = text; *p != '\0' && slot < n; ++p) {
        if (*p == '{') {
            ++depth;
        } else if (*p == '}') {
            --depth;
        } else if (*p == ',' && depth == 0 && slot + 1 < n) {
            list->items[slot++] = copy_span(start, p);
            start = p + 1;
        }
    }
    if (slot < n) list->items[slot++] = chk_strdup(start);
    for (; slot < n; ++slot) list->items[slot] = chk_strdup("");
    return list;
}

void brace_insert(BRACE* list, BRACE* other, int index) {
    if (other->count == 0) {
        chk_free(other->items);
        chk_free(other);
        return;
    }
    if (list->count == 0) {
        chk_free(list->items);
        *list = *other;
        chk_free(other);
        return;
    }
    // An index past the end appends rather than writing outside the list.
    if (index < 0 || index > list->count) index = list->count;
    const bool replaces = index < list->count;
    list->capacity = list->count + other->count - (replaces ? 1 : 0);
    list->items = static_cast<char**>(chk_realloc(list->items, sizeof(char*) * list->capacity));
    if (replaces) {
        chk_free(list->items[index]);
        --list->count;
        std::memmove(list->items + index + other->count, list->items + index + 1,
                     sizeof(char*) * (list->count - index));
    }
    std::memcpy(list->items + index, other->items, sizeof(char*) * other->count);
    list->count += other->count;
    chk_free(other->items);
    chk_free(other);
}

void brace_append(BRACE* list, BRACE* other) { brace_insert(list, other, list->count); }

}  // namespace zk
