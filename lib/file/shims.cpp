#include <zk/file/filename.h>
#include <zk/file/shims.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zk {

// The large-file names: offsets and sizes are already 64 bits wide here.
int lstat64(const char* path, struct stat* status) { return ::lstat(path, status); }

int fstat64(int fd, struct stat* status) { return ::fstat(fd, status); }

int stat64(const char* path, struct stat* status) { return ::stat(path, status); }

int open64(const char* path, int flags, int mode) { return ::open(path, flags, mode); }

}  // namespace zk
