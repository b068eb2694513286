// Path simplification and directory trees. Run it in an empty directory: it
// makes pkg/ with two files.
#include <zk/zk.h>

#include <cstdio>
#include <initializer_list>

int main() {
    // A name as a user types it: quotes go, steps and repeated delimiters go.
    for (const char* typed : {"/usr//local/./lib/../bin/", "\"/opt/my product\"", "/srv/../../data"}) {
        char* clean = zk::simplify_and_expand_filename(typed);
        std::printf("%-27s -> %s\n", typed, clean);
        zk::chk_free(clean);
    }

    // wild_collapse works in place; a relative name stays relative.
    char relative[] = "a//b/./c/..";
    zk::wild_collapse(relative);
    std::printf("collapsed: %s\n", relative);

    // Every file in and below a directory; directories are entered, not listed.
    for (const char* dir : {"pkg", "pkg/bin", "pkg/doc"}) zk::port_mkdir(dir, 0755);
    for (const char* name : {"pkg/bin/tool", "pkg/doc/README"}) {
        if (FILE* file = std::fopen(name, "w")) std::fclose(file);
    }
    zk::GLOB_ENTRY* tree = zk::expand_directory_tree("pkg", zk::WILD_FILES | zk::WILD_DIRS);
    for (zk::GLOB_ENTRY* entry = tree; entry != nullptr && entry->name != nullptr; ++entry) {
        std::printf("found %s\n", entry->name);
        zk::chk_free(entry->name);
    }
    zk::chk_free(tree);
}
