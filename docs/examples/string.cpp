// Dynamic strings and string utilities.
#include <zk/zk.h>

#include <cstdio>
#include <cstring>
#include <initializer_list>

int main() {
    // A dynamic string builds a text; its buffer then becomes the caller's.
    zk::DSTR text;
    zk::dstr_init(&text, 16);
    for (const char* word : {"alpha", "beta", "gamma"}) {
        if (text.dl_len > 0) zk::dstr_add_char(&text, '+');
        zk::dstr_add_string(&text, word, static_cast<int>(std::strlen(word)));
    }
    zk::dstr_terminate(&text);
    char* joined = reinterpret_cast<char*>(text.dl_buf);
    std::printf("%s (%d bytes with the NUL)\n", joined, text.dl_len);
    zk::chk_free(joined);

    // Words as a shell splits them: a quoted word keeps its blank (flags 4).
    int count = 0;
    zk::QWORD* words = zk::string_qword_split("one \"two three\" four", &count, 2);
    for (int i = 0; i < count; ++i) {
        std::printf("word %d: %s (flags %d)\n", i, words[i].text, words[i].flags);
        zk::chk_free(words[i].text);
    }
    zk::chk_free(words);

    char* bare = zk::string_unquote("\"quoted\"");
    std::printf("unquoted: %s\n", bare);
    zk::chk_free(bare);
}
