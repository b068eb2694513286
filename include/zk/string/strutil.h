// String utilities: dictionary-order comparison, quoting, word splitting and
// the silent trace hook.
#pragma once

#include <cstdint>

namespace zk {

struct QWORD {
    char* text;
    int32_t flags;
};

char* overlap_strcpy(char* dst, const char* src);
int strdictcmp(const char* a, const char* b);
int strndictcmp(const char* a, const char* b, int n);
void lower_case(char* text);
QWORD* string_qword_split(const char* text, int* count, int mode);
char* string_unquote(const char* text);
char** string_wordize(const char* text);
void trace_log(const char* format, ...);

}  // namespace zk
