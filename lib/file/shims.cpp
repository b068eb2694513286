#include <zk/file/filename.h>
#include <zk/file/shims.h>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

namespace zk {

namespace {

static_assert(sizeof(off_t) == sizeof(int64_t), "file offsets are expected to be 64 bits wide");

constexpr int first_signal = 1;
constexpr int last_signal = 31;
constexpr size_t name_buffer_size = 256;

int change_one_signal(int how, int signal_number) {
    if (signal_number < first_signal || signal_number > last_signal) {
        errno = EINVAL;
        return 0;
    }
    sigset_t one_signal;
    ::sigemptyset(&one_signal);
    ::sigaddset(&one_signal, signal_number);
    ::sigprocmask(how, &one_signal, nullptr);
    return 0;
}

using UnameField = decltype(&utsname::nodename);

// Copies a field of uname, the buffer left empty when the call fails.
int copy_uname_field(char* buffer, UnameField field) {
    buffer[0] = '\0';
    struct utsname names;
    if (::uname(&names) != 0) {
        return -1;
    }
    std::strncpy(buffer, names.*field, name_buffer_size - 1);
    buffer[name_buffer_size - 1] = '\0';
    return 0;
}

}  // namespace

// The large-file names: offsets and sizes are already 64 bits wide here.
int lstat64(const char* path, struct stat* status) { return ::lstat(path, status); }

int fstat64(int fd, struct stat* status) { return ::fstat(fd, status); }

int stat64(const char* path, struct stat* status) { return ::stat(path, status); }

int open64(const char* path, int flags, int mode) { return ::open(path, flags, mode); }

int64_t sys_lseek64(int fd, int64_t offset, int whence) { return ::lseek(fd, static_cast<off_t>(offset), whence); }

// No drive letters on this platform.
int _chdrive(int) { return 0; }

int closesocket(int fd) { return ::close(fd); }

int ioctlsocket(int fd, unsigned long request, void* argument) { return ::ioctl(fd, request, argument); }

int setruid(int) { return -2; }

int setrgid(int) { return -2; }

int sighold(int signal_number) { return change_one_signal(SIG_BLOCK, signal_number); }

int sigrelse(int signal_number) { return change_one_signal(SIG_UNBLOCK, signal_number); }

int get_hostname(char* buffer, size_t size) { return ::gethostname(buffer, size); }

long my_gethostid() { return ::gethostid(); }

int get_nodename(char* buffer) { return copy_uname_field(buffer, &utsname::nodename); }

int get_systemname(char* buffer) { return copy_uname_field(buffer, &utsname::sysname); }

}  // namespace zk
