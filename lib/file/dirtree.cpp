#include <zk/file/dirtree.h>

#include <zk/base/chk.h>
#include <zk/file/filename.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>

namespace zk {

namespace {

// Search permission for everybody, so the tree can always be walked.
constexpr int search_bits = 0111;

// EEXIST from a file or other non-directory in the way is not a directory
// made; errno stays that of the failed mkdir.
bool is_existing_directory(const char* path) {
    const int saved_errno = errno;
    struct stat status;
    const bool directory = ::stat(path, &status) == 0 && S_ISDIR(status.st_mode);
    errno = saved_errno;
    return directory;
}

int make_directory_at(char* path, char* cut, int mode) {
    *cut = '\0';
    const int result = port_mkdir(path, mode | search_bits);
    const bool made = result == 0 || (errno == EEXIST && is_existing_directory(path));
    *cut = '/';
    return made ? 0 : -1;
}

// Makes every prefix that ends at the second and later delimiters; the
// outcome is that of the last, the whole directory part.
int make_each_prefix(char* path, int mode) {
    int result = -1;
    char* cut = filename_first_component(path);
    while ((cut = filename_first_component(cut + 1)) != nullptr) {
        *cut = '\0';
        result = port_mkdir(path, mode | search_bits);
        *cut = '/';
    }
    return result;
}

}  // namespace

int port_mkdir(const char* path, int mode) { return ::mkdir(path, static_cast<mode_t>(mode)); }

int make_directory_tree2(char* path, int mode) {
    char* last = filename_last_component(path);
    if (last == nullptr) {
        return -1;
    }
    if (make_directory_at(path, last, mode) == 0) {
        return 0;
    }
    if (errno == EEXIST) {  // something other than a directory holds the name
        return -1;
    }
    return make_each_prefix(path, mode);
}

int make_directory_tree(const char* path, int mode) {
    if (path == nullptr || path[0] == '\0') {
        std::printf("make_directory_tree: Attempting to make NULL directory\n");
        return -1;
    }
    char* file_in_directory = chk_makestr(path, "/junk", nullptr);
    const int result = make_directory_tree2(file_in_directory, mode);
    chk_free(file_in_directory);
    return result;
}

FILE* mkdir_fopen(char* path, const char* fopen_mode, int dir_mode) {
    if (FILE* stream = std::fopen(path, fopen_mode)) {
        return stream;
    }
    if (make_directory_tree2(path, dir_mode) < 0) {
        return nullptr;
    }
    return std::fopen(path, fopen_mode);
}

int mkdir_open(char* path, int flags, int mode) {
    const int fd = ::open(path, flags, mode);
    if (fd >= 0) {
        return fd;
    }
    if (make_directory_tree2(path, mode) < 0) {
        return -1;
    }
    return ::open(path, flags, mode);
}

}  // namespace zk
