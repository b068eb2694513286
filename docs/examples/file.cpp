// File names and directory trees.
#include <zk/zk.h>

#include <sys/stat.h>

#include <cstdio>

int main() {
    // New texts belong to the caller; basename and the extension point into
    // their argument and are not freed on their own.
    char* path = zk::filename_append_filename("/opt/zelkor", "bin/setup.sh");
    std::printf("%s: base %s, extension %s\n", path, zk::basename(path), zk::filename_extension(path));
    char* parent = zk::dirname(path);
    std::printf("parent %s, absolute %d\n", parent, zk::is_absolute(parent));
    zk::chk_free(parent);
    zk::chk_free(path);

    // A directory with its missing parents; a relative path's first
    // component must exist already.
    zk::port_mkdir("product", 0755);
    std::printf("make_directory_tree: %d\n", zk::make_directory_tree("product/share/doc", 0755));
    struct stat status;
    const bool made = zk::stat64("product/share/doc", &status) == 0 && S_ISDIR(status.st_mode);
    std::printf("product/share/doc is %s\n", made ? "a directory" : "missing");
}
