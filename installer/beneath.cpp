#include "beneath.h"

#include "tar_format.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace {

constexpr int DIRECTORY_FLAGS = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

void close_if_open(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

bool is_symbolic_link(int directory, const std::string& component) {
    struct stat status;
    return ::fstatat(directory, component.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(status.st_mode);
}

// Opens one component below `directory`, making it first when asked. The
// open refuses a link, so a link swapped in after the mkdir is caught too.
Resolved open_component(int directory, const std::string& component, unsigned mode, bool make, int& fd) {
    fd = ::openat(directory, component.c_str(), DIRECTORY_FLAGS);
    if (fd < 0 && errno == ENOENT && make) {
        if (::mkdirat(directory, component.c_str(), static_cast<mode_t>(mode)) != 0 && errno != EEXIST) {
            return Resolved::failed;
        }
        fd = ::openat(directory, component.c_str(), DIRECTORY_FLAGS);
    }
    if (fd >= 0) return Resolved::found;
    const int error = errno;
    const bool link = error == ELOOP || ((error == ENOTDIR) && is_symbolic_link(directory, component));
    errno = error;
    return link ? Resolved::unsafe : Resolved::failed;
}

// Splits off the last component; `directory` gets what comes before it.
void split_last(const std::string& normal, std::string& directory, std::string& leaf) {
    const size_t slash = normal.rfind('/');
    directory = slash == std::string::npos ? "" : normal.substr(0, slash);
    leaf = slash == std::string::npos ? normal : normal.substr(slash + 1);
}

}  // namespace

Beneath::~Beneath() { close(); }

bool Beneath::open_root() {
    close();
    root_ = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    return root_ >= 0;
}

void Beneath::close() {
    close_if_open(last_);
    close_if_open(root_);
    last_path_.clear();
}

Resolved Beneath::walk(std::string_view directory, unsigned mode, bool make, int& fd) {
    fd = ::fcntl(root_, F_DUPFD_CLOEXEC, 0);
    if (fd < 0) return Resolved::failed;
    for (size_t start = 0; start < directory.size();) {
        size_t end = directory.find('/', start);
        if (end == std::string_view::npos) end = directory.size();
        int next = -1;
        const Resolved step = open_component(fd, std::string(directory.substr(start, end - start)), mode, make, next);
        ::close(fd);
        fd = next;
        if (step != Resolved::found) return step;
        start = end + 1;
    }
    return Resolved::found;
}

Resolved Beneath::parent_of(std::string_view name, unsigned mode, bool make, int& parent, std::string& leaf) {
    std::string directory;
    split_last(tar_format::normal_name(name), directory, leaf);
    if (last_ < 0 || directory != last_path_) {
        close_if_open(last_);
        int fd = -1;
        const Resolved walked = walk(directory, mode, make, fd);
        if (walked != Resolved::found) {
            close_if_open(fd);
            return walked;
        }
        last_ = fd;
        last_path_ = directory;
    }
    parent = last_;
    return Resolved::found;
}

Resolved Beneath::lookup_parent(std::string_view name, int& parent, std::string& leaf) {
    std::string directory;
    split_last(tar_format::normal_name(name), directory, leaf);
    const Resolved walked = walk(directory, 0, false, parent);
    if (walked != Resolved::found) close_if_open(parent);
    return walked;
}
