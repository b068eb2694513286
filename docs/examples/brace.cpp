// Brace and shell expansion. Run it in an empty directory: it makes two files.
#include <zk/zk.h>

#include <cstdio>
#include <cstdlib>
#include <initializer_list>

int main() {
    zk::BRACE* list = zk::brace_expand("lib{zk,bz2}.{a,so}");
    for (int i = 0; i < list->count; ++i) {
        std::printf("%s%s", i > 0 ? " " : "", list->items[i]);
        zk::chk_free(list->items[i]);
    }
    std::printf("\n");
    zk::chk_free(list->items);
    zk::chk_free(list);

    // Words are split, quoted ones kept as written, braces multiplied out and
    // patterns globbed; the names of all words come back merged and sorted.
    for (const char* name : {"notes.txt", "todo.txt"}) {
        if (FILE* file = std::fopen(name, "w")) std::fclose(file);
    }
    char** names = zk::shell_expand("*.txt \"my file\" {b,a}.c", zk::WILD_FILES | zk::WILD_DIRS);
    for (char** name = names; *name != nullptr; ++name) {
        std::printf("[%s]\n", *name);
        zk::chk_free(*name);
    }
    zk::chk_free(names);

    // expand_filename keeps the first name; the library owns it.
    std::printf("first: %s\n", zk::expand_filename("*.txt"));

    ::setenv("PRODUCT_HOME", "/opt/zelkor", 1);
    char* substituted = zk::wild_dollar_substitute("$PRODUCT_HOME/bin:\\$PATH");
    std::printf("%s\n", substituted);
    zk::chk_free(substituted);
}
