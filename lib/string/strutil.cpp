#include <zk/string/strutil.h>

#include <zk/base/chk.h>
#include <zk/file/filename.h>
#include <zk/string/dstr.h>

#include <strings.h>

#include <cstring>

namespace zk {

namespace {

constexpr char DOUBLE_QUOTE = '"';
constexpr char SINGLE_QUOTE = '\'';
constexpr char BLANK = ' ';
constexpr char SEMICOLON = ';';
constexpr char BACKSLASH = '\\';

constexpr int SPLIT_KEEP_BLANKS = 1;
constexpr int SPLIT_AT_SEMICOLON = 2;
constexpr int32_t QWORD_QUOTED = 4;

constexpr int QWORD_START_BYTES = 16;
constexpr size_t WORDIZE_START_CAPACITY = 10;

// C-locale classes, whatever locale the program has set.
bool is_upper(int ch) { return ch >= 'A' && ch <= 'Z'; }
bool is_lower(int ch) { return ch >= 'a' && ch <= 'z'; }
bool is_letter(int ch) { return is_upper(ch) || is_lower(ch); }
bool is_digit(int ch) { return ch >= '0' && ch <= '9'; }
bool is_white(int ch) { return ch == BLANK || (ch >= '\t' && ch <= '\r'); }

char* skip_white(char* p) {
    while (is_white(*p)) {
        ++p;
    }
    return p;
}

// Letters first, then digits, then everything else (the empty string too).
int dictionary_rank(const char* text) {
    if (is_letter(text[0])) {
        return 0;
    }
    return is_digit(text[0]) ? 1 : 2;
}

// Bytes 0x80 to 0xFF count as negative; lower-case letters fold to upper.
int folded_char(char ch) {
    const int value = static_cast<signed char>(ch);
    return is_lower(value) ? value - ('a' - 'A') : value;
}

bool is_separator(char ch, int mode) { return is_white(ch) || ((mode & SPLIT_AT_SEMICOLON) != 0 && ch == SEMICOLON); }

bool ends_plain_word(const char* p, int mode) {
    if ((mode & SPLIT_AT_SEMICOLON) != 0 && *p == SEMICOLON) {
        return true;
    }
    if ((mode & SPLIT_KEEP_BLANKS) != 0) {
        return p[0] == BLANK && p[1] == DOUBLE_QUOTE;
    }
    return is_white(*p);
}

// Cuts the word off at its terminating character, which is dropped; returns
// where the scan goes on.
char* cut_word_at(char* end) {
    if (*end == '\0') {
        return end;
    }
    *end = '\0';
    return end + 1;
}

// A quoted word ends at a blank outside quotes or at the end of the text.
char* cut_quoted_word(char* start) {
    bool inside = true;
    char* p = start + 1;
    while (*p != '\0' && !(*p == BLANK && !inside)) {
        if (*p == DOUBLE_QUOTE) {
            inside = !inside;
        }
        ++p;
    }
    return cut_word_at(p);
}

char* cut_plain_word(char* start, int mode) {
    char* p = start;
    while (*p != '\0' && !ends_plain_word(p, mode)) {
        ++p;
    }
    return cut_word_at(p);
}

bool append_qword(DSTR* words, const QWORD& word) {
    if (word.text == nullptr) {
        return false;
    }
    const int32_t before = words->dl_len;
    dstr_add_mem(words, &word, static_cast<int>(sizeof word));
    if (words->dl_len == before) {
        chk_free(word.text);
        return false;
    }
    return true;
}

void release_qwords(DSTR* words) {
    const auto* records = reinterpret_cast<const QWORD*>(words->dl_buf);
    const size_t count = static_cast<size_t>(words->dl_len) / sizeof(QWORD);
    for (size_t i = 0; i < count; ++i) {
        chk_free(records[i].text);
    }
    dstr_free(words);
}

// The next white space outside quotes, or null at the end of the text.
// Quotes and backslashes stay in the text.
char* find_word_break(char* p, char* quote) {
    for (; *p != '\0'; ++p) {
        if (*p == BACKSLASH) {
            if (p[1] == '\0') {
                return nullptr;
            }
            ++p;
        } else if (*quote != '\0') {
            if (*p == *quote) {
                *quote = '\0';
            }
        } else if (*p == DOUBLE_QUOTE || *p == SINGLE_QUOTE) {
            *quote = *p;
        } else if (is_white(*p)) {
            return p;
        }
    }
    return nullptr;
}

}  // namespace

char* overlap_strcpy(char* dst, const char* src) {
    std::memmove(dst, src, std::strlen(src) + 1);
    return dst;
}

int strdictcmp(const char* a, const char* b) {
    const int rank_a = dictionary_rank(a);
    const int rank_b = dictionary_rank(b);
    if (rank_a != rank_b) {
        return rank_a < rank_b ? -1 : 1;
    }
    return ::strcasecmp(a, b);
}

int strndictcmp(const char* a, const char* b, int n) {
    for (int i = 0; i < n; ++i) {
        const int ca = folded_char(a[i]);
        const int cb = folded_char(b[i]);
        if (ca == cb) {
            if (ca == '\0') {
                return 0;
            }
            continue;
        }
        if (ca == '\0') {
            return -1;
        }
        if (cb == '\0') {
            return 1;
        }
        if (is_upper(ca) != is_upper(cb)) {
            return is_upper(ca) ? -1 : 1;
        }
        return ca - cb;
    }
    return 0;
}

void lower_case(char* text) {
    for (char* p = text; *p != '\0'; ++p) {
        if (is_upper(*p)) {
            *p = static_cast<char>(*p + ('a' - 'A'));
        }
    }
}

QWORD* string_qword_split(const char* text, int* count, int mode) {
    *count = 0;
    char* copy = chk_strdup(text);
    if (copy == nullptr) {
        return nullptr;
    }
    DSTR words;
    dstr_init(&words, QWORD_START_BYTES);
    bool complete = true;
    char* p = copy;
    while (*p != '\0' && complete) {
        QWORD word{};
        if (*p == DOUBLE_QUOTE) {
            char* start = p;
            p = cut_quoted_word(start);
            word = QWORD{string_normalize_quotes(start), QWORD_QUOTED};
        } else {
            while (is_separator(*p, mode)) {
                ++p;
            }
            if (*p == DOUBLE_QUOTE) {
                continue;
            }
            // Separators up to the end leave one empty word.
            char* start = p;
            p = cut_plain_word(start, mode);
            word = QWORD{chk_strdup(start), 0};
        }
        complete = append_qword(&words, word);
        ++*count;
    }
    chk_free(copy);

    const int32_t records_len = words.dl_len;
    if (complete) {
        dstr_reserve_zero(&words, static_cast<int>(sizeof(QWORD)));
        complete = words.dl_len > records_len;
    }
    if (!complete) {
        release_qwords(&words);
        *count = 0;
        return nullptr;
    }
    return reinterpret_cast<QWORD*>(words.dl_buf);
}

char* string_unquote(const char* text) {
    if (*text == DOUBLE_QUOTE) {
        ++text;
    }
    char* copy = chk_strdup(text);
    if (copy != nullptr) {
        const size_t length = std::strlen(copy);
        if (length > 0 && copy[length - 1] == DOUBLE_QUOTE) {
            copy[length - 1] = '\0';
        }
    }
    return copy;
}

char** string_wordize(const char* text) {
    char* copy = chk_strdup(text);
    auto** vector = static_cast<char**>(chk_alloc(WORDIZE_START_CAPACITY * sizeof(char*)));
    if (copy == nullptr || vector == nullptr) {
        chk_free(copy);
        chk_free(vector);
        return nullptr;
    }
    size_t capacity = WORDIZE_START_CAPACITY;
    size_t words = 0;
    vector[words++] = copy;
    char quote = '\0';
    for (char* p = find_word_break(copy, &quote); p != nullptr; p = find_word_break(p, &quote)) {
        *p = '\0';
        p = skip_white(p + 1);
        // Keep a slot for the terminating null after the new word.
        if (words + 1 >= capacity) {
            auto** grown = static_cast<char**>(chk_realloc(vector, 2 * capacity * sizeof(char*)));
            if (grown == nullptr) {
                chk_free(copy);
                chk_free(vector);
                return nullptr;
            }
            vector = grown;
            capacity *= 2;
        }
        vector[words++] = p;
    }
    vector[words] = nullptr;
    return vector;
}

void trace_log(const char*, ...) {}

}  // namespace zk
