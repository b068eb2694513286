#include "input_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace input_file {

Opened open_regular(const char* path, int flags) {
    // Refused unopened where it can be, since opening a device may itself
    // act (a tape rewinds) and opening a FIFO releases its waiting writer.
    // A symbolic link under O_NOFOLLOW is left to the open, which says why.
    struct stat named;
    const int found = (flags & O_NOFOLLOW) != 0 ? ::lstat(path, &named) : ::stat(path, &named);
    if (found == 0 && !S_ISREG(named.st_mode) && !S_ISLNK(named.st_mode)) return {-1, true};
    // O_NOCTTY: a terminal named by mistake does not become the controlling one.
    const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | flags);
    if (fd < 0) return {};
    struct stat status;
    const bool known = ::fstat(fd, &status) == 0;
    const int error = errno;
    if (known && S_ISREG(status.st_mode)) return {fd, false};
    ::close(fd);
    errno = error;
    return {-1, known};
}

}  // namespace input_file
