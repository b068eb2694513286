#include "scratch.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

#include "fuzz_support.h"

namespace zkfuzz {

namespace {

std::string scratch_root;

void remove_scratch_root() { remove_tree(scratch_root); }

// Calls visit(name) for each entry of the open directory, which it closes.
template <typename Visit>
void for_each_entry(int directory_fd, Visit visit) {
    DIR* directory = ::fdopendir(directory_fd);
    if (directory == nullptr) {
        ::close(directory_fd);
        return;
    }
    while (const dirent* entry = ::readdir(directory)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") visit(name);
    }
    ::closedir(directory);
}

// The entry's directory may have been made without any permission: as root
// that stops nobody, as anyone else it would stop the removal.
void remove_entry(int parent_fd, const std::string& name) {
    struct stat status;
    if (::fstatat(parent_fd, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) return;
    if (S_ISDIR(status.st_mode)) {
        ::fchmodat(parent_fd, name.c_str(), 0700, 0);
        const int fd = ::openat(parent_fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
        if (fd >= 0) for_each_entry(fd, [fd](const std::string& child) { remove_entry(fd, child); });
        require(::unlinkat(parent_fd, name.c_str(), AT_REMOVEDIR) == 0, "a scratch directory can be removed");
    } else {
        require(::unlinkat(parent_fd, name.c_str(), 0) == 0, "a scratch file can be removed");
    }
}

bool no_pipes_or_devices_below(int directory_fd) {
    bool clean = true;
    for_each_entry(directory_fd, [&](const std::string& name) {
        struct stat status;
        if (::fstatat(directory_fd, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) return;
        if (S_ISDIR(status.st_mode)) {
            ::fchmodat(directory_fd, name.c_str(), 0700, 0);
            const int fd = ::openat(directory_fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
            if (fd >= 0 && !no_pipes_or_devices_below(fd)) clean = false;
        } else if (!S_ISREG(status.st_mode) && !S_ISLNK(status.st_mode)) {
            clean = false;
        }
    });
    return clean;
}

}  // namespace

std::string make_scratch_root(const char* target) {
    const char* base = std::getenv("TMPDIR");
    std::string pattern =
        std::string(base != nullptr && base[0] != '\0' ? base : "/tmp") + "/zkfuzz-" + target + "-XXXXXX";
    require(::mkdtemp(pattern.data()) != nullptr, "a scratch directory can be made");
    scratch_root = pattern;
    std::atexit(remove_scratch_root);
    return scratch_root;
}

std::vector<std::string> list_directory(const std::string& path) {
    std::vector<std::string> names;
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY);
    require(fd >= 0, "a scratch directory can be read");
    for_each_entry(fd, [&](const std::string& name) { names.push_back(name); });
    std::sort(names.begin(), names.end());
    return names;
}

bool holds_no_pipes_or_devices(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
    require(fd >= 0, "a scratch directory can be read");
    return no_pipes_or_devices_below(fd);
}

void remove_tree(const std::string& path) { remove_entry(AT_FDCWD, path); }

void make_empty_directory(const std::string& path) {
    remove_tree(path);
    require(::mkdir(path.c_str(), 0755) == 0, "a scratch directory can be made");
}

int count_open_descriptors() {
    int count = 0;
    for_each_entry(::open("/proc/self/fd", O_RDONLY | O_DIRECTORY), [&](const std::string&) { ++count; });
    // The listing's own descriptor was open while it was listed.
    return count - 1;
}

CwdKeeper::CwdKeeper() : directory_fd_(::open(".", O_RDONLY | O_DIRECTORY)) {
    require(directory_fd_ >= 0, "the working directory can be kept");
}

CwdKeeper::~CwdKeeper() {
    require(::fchdir(directory_fd_) == 0, "the working directory can be restored");
    ::close(directory_fd_);
}

}  // namespace zkfuzz
