// Wildcard matching and globbing. Run it in an empty directory: it makes
// src/ with three files.
#include <zk/zk.h>

#include <cstdio>
#include <initializer_list>

int main() {
    // Pattern lists are separated by ";"; a leading "*" skips dot files.
    std::printf("%d %d %d\n", zk::wild_match("setup.sh", "*.txt;*.sh", 0), zk::wild_match(".profile", "*", 0),
                zk::wild_match(".profile", "*", zk::WILD_DOTFILES));

    zk::port_mkdir("src", 0755);
    for (const char* name : {"src/main.c", "src/util.c", "src/util.h"}) {
        if (FILE* file = std::fopen(name, "w")) {
            std::fputs(name, file);
            std::fclose(file);
        }
    }
    // Existing names, sorted, each with its status; the caller frees every
    // name and then the list.
    zk::GLOB_ENTRY* list = zk::glob_filenames("src/*.c", zk::WILD_FILES);
    for (zk::GLOB_ENTRY* entry = list; entry->name != nullptr; ++entry) {
        std::printf("%s, %ld bytes\n", entry->name, static_cast<long>(entry->status.st_size));
        zk::chk_free(entry->name);
    }
    zk::chk_free(list);
}
