// Brace and shell expansion of words into sorted, de-duplicated name lists.
#pragma once

#include <cstdint>

namespace zk {

constexpr int SHELL_KEEP_BLANKS = 0x0200;

struct EXPANDED_WORD {
    char* text;
    int32_t literal;
};

struct BRACE {
    char** items;
    int32_t count;
    int32_t capacity;
};

char** shell_expand(const char* text, int flags);
EXPANDED_WORD* brace_expand_string(const char* text, int* count_out, int mode);
BRACE* brace_expand(const char* text);
void do_brace_expand(BRACE* list);
BRACE* do_brace_expand2(char* text);
BRACE* do_brace_enum(const char* text, int n);
void brace_insert(BRACE* list, BRACE* other, int index);
void brace_append(BRACE* list, BRACE* other);
char* wild_dollar_substitute(const char* text);
const char* expand_filename(const char* name);

}  // namespace zk
