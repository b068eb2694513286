#include <zk/file/filename.h>

#include <zk/base/chk.h>

#include <cstring>

namespace zk {

const char* wild_filename_delimiter = "/";

namespace {

constexpr char delimiter = '/';
constexpr char double_quote = '"';
constexpr char blank = ' ';

int monocase_flag = 0;

char* copy_of_prefix(const char* text, size_t length) {
    auto* copy = static_cast<char*>(chk_alloc(length + 1));
    std::memcpy(copy, text, length);
    copy[length] = '\0';
    return copy;
}

}  // namespace

const char* filename_delimiter() { return wild_filename_delimiter; }

const char* filename_path_delimiter() { return ":"; }

int filename_is_delim(int ch) { return ch == delimiter ? 1 : 0; }

int is_absolute(const char* name) { return filename_is_delim(name[0]); }

const char* filename_first_component(const char* name) { return std::strchr(name, delimiter); }

const char* filename_last_component(const char* name) { return std::strrchr(name, delimiter); }

const char* filename_nth_first_component(const char* name, int n) {
    int remaining = n < 1 ? 1 : n;
    for (const char* p = name; *p != '\0'; ++p) {
        if (filename_is_delim(*p) && --remaining == 0) {
            return p;
        }
    }
    return nullptr;
}

const char* filename_nth_last_component(const char* name, int n) {
    int remaining = n < 1 ? 1 : n;
    for (const char* p = name + std::strlen(name); p != name;) {
        --p;
        if (filename_is_delim(*p) && --remaining == 0) {
            return p;
        }
    }
    return nullptr;
}

const char* filename_extension(const char* name) {
    for (const char* p = name + std::strlen(name); p != name;) {
        --p;
        if (*p == '.') {
            return p + 1;
        }
        if (filename_is_delim(*p)) {
            return nullptr;
        }
    }
    return nullptr;
}

const char* file_extension(const char* name) { return std::strrchr(basename(name), '.'); }

// A delimiter at position 0 is the root, not a separator, so /x is its own basename.
const char* basename(const char* name) {
    const char* last = filename_last_component(name);
    return last != nullptr && last != name ? last + 1 : name;
}

const char* filename_basename(const char* name) { return basename(name); }

char* dirname(const char* name) {
    const char* last = filename_last_component(name);
    if (last == nullptr) {
        return chk_strdup(".");
    }
    if (last == name) {
        return chk_strdup("/");
    }
    return copy_of_prefix(name, static_cast<size_t>(last - name));
}

char* filename_dirname2(const char* name, int n) {
    const auto length = static_cast<ptrdiff_t>(std::strlen(name));
    if (n <= 0) {
        return copy_of_prefix(name, length > 0 ? static_cast<size_t>(length - 1) : 0);
    }
    ptrdiff_t position = length - 1;
    for (int round = 1;; ++round) {
        while (position > 0 && !filename_is_delim(name[position])) {
            --position;
        }
        if (position <= 0) {
            return chk_strdup(".");
        }
        if (round == n) {
            return copy_of_prefix(name, static_cast<size_t>(position));
        }
        --position;
    }
}

int filename_strcmp(const char* a, const char* b) { return std::strcmp(a, b); }

int filename_get_drive(const char*) { return 0; }

const char* filename_skip_drive(const char* name) { return name; }

const char* filename_skip_unc(const char* name) { return name; }

int is_unc_filename(const char*) { return 0; }

char* filename_normalize(char* name) { return name; }

char* backslash_to_fwd(char* name) { return name; }

char* forwardslash_to_back(char* name) { return name; }

void monocase_filename(char*) {}

int filename_monocase_enable(int value) {
    if (value >= 0) {
        monocase_flag = value;
    }
    return monocase_flag;
}

char* filename_long_to_short(const char* name) { return chk_strdup(name); }

char* filename_short_to_long(const char* name) { return chk_strdup(name); }

char* string_normalize_quotes(const char* text) {
    const size_t length = std::strlen(text);
    const bool enclose = std::strchr(text, blank) != nullptr && std::strchr(text, double_quote) != nullptr;
    auto* result = static_cast<char*>(chk_alloc(length + 3));
    if (result == nullptr) {
        return nullptr;
    }
    char* out = result;
    if (enclose) {
        *out++ = double_quote;
    }
    for (const char* p = text; *p != '\0'; ++p) {
        if (*p != double_quote) {
            *out++ = *p;
        }
    }
    if (enclose) {
        *out++ = double_quote;
    }
    *out = '\0';
    return result;
}

char* filename_append_filename(const char* dir, const char* name) {
    if (is_absolute(name) || dir[0] == '\0') {
        return forwardslash_to_back(chk_strdup(name));
    }
    if (name[0] == '\0') {
        return forwardslash_to_back(chk_strdup(dir));
    }
    // A trailing backslash also counts here, so names written for other
    // platforms do not get a second separator.
    const char last = dir[std::strlen(dir) - 1];
    const char* separator = filename_is_delim(last) || last == '\\' ? "" : wild_filename_delimiter;
    char* joined = chk_makestr(dir, separator, name, nullptr);
    if (joined == nullptr) {
        return nullptr;
    }
    char* result = string_normalize_quotes(joined);
    chk_free(joined);
    return forwardslash_to_back(result);
}

}  // namespace zk
