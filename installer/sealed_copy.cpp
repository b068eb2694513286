#include "sealed_copy.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "fatal.h"
#include "installer_state.h"
#include "temp_file.h"

namespace {

// Memory holds the copy while it takes at most this share of what is
// available; beyond it, or where the system does not say, a file does.
constexpr uint64_t MEMORY_SHARE = 4;
constexpr uint64_t SIZE_IN_MEMORY_UNTOLD = uint64_t{256} << 20;

constexpr unsigned int ALL_SEALS = F_SEAL_WRITE | F_SEAL_GROW | F_SEAL_SHRINK | F_SEAL_SEAL;

struct SealedCopy {
    int fd = -1;
    int file_fd = -1;  // the package file the copy is made from
    uint64_t size = 0;
    struct rlimit file_size_limit {};  // the run's, put back once the copy is whole
};

SealedCopy sealed_copy;

[[noreturn]] void copy_failed(int error) {
    std::printf("Error: cannot keep a private copy of the package: %s\n", std::strerror(error));
    fatal_exit();
}

// MemAvailable of /proc/meminfo, in bytes; 0 where it cannot be read.
uint64_t available_memory() {
    FILE* info = std::fopen("/proc/meminfo", "re");
    if (info == nullptr) return 0;
    // strtoull rather than sscanf: the scanf family would bring its
    // floating-point parsers into every package's installer program.
    constexpr std::string_view field = "MemAvailable:";
    unsigned long long kib = 0;
    char line[128];
    while (std::fgets(line, sizeof line, info) != nullptr) {
        if (std::string_view(line).substr(0, field.size()) == field) {
            kib = std::strtoull(line + field.size(), nullptr, 10);
            break;
        }
    }
    std::fclose(info);
    return uint64_t{kib} * 1024;
}

// The copy is a file, so a file size limit applies to it: one below the
// package's size is raised as far as it may be while the copy is made.
void make_room_for(uint64_t size) {
    struct rlimit& limit = sealed_copy.file_size_limit;
    if (::getrlimit(RLIMIT_FSIZE, &limit) != 0) {
        limit.rlim_cur = limit.rlim_max = RLIM_INFINITY;
        return;
    }
    if (limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur >= size) return;
    if (limit.rlim_max != RLIM_INFINITY && limit.rlim_max < size) {
        std::printf(
            "Error: cannot keep a private copy of the package: its %llu bytes exceed the file size limit "
            "(ulimit -f)\n",
            static_cast<unsigned long long>(size));
        fatal_exit();
    }
    const struct rlimit raised { limit.rlim_max, limit.rlim_max };
    ::setrlimit(RLIMIT_FSIZE, &raised);
}

bool fits_in_memory(uint64_t size) {
    const uint64_t available = available_memory();
    return size <= (available != 0 ? available / MEMORY_SHARE : SIZE_IN_MEMORY_UNTOLD);
}

int memory_copy() { return ::memfd_create("zkinstall-package", MFD_CLOEXEC | MFD_ALLOW_SEALING); }

// Unnamed, in a directory of ours that no one else may enter.
int file_copy() {
    const int dir = private_dir_fd();
    return dir < 0 ? -1 : ::openat(dir, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
}

// Zeros are left as holes: a sparse package costs no memory.
bool all_zero(const unsigned char* bytes, size_t count) {
    return count == 0 || (bytes[0] == 0 && std::memcmp(bytes, bytes + 1, count - 1) == 0);
}

}  // namespace

void start_sealed_copy(uint64_t size) {
    make_room_for(size);
    const bool in_memory = fits_in_memory(size);
    int fd = in_memory ? memory_copy() : file_copy();
    if (fd < 0) fd = in_memory ? file_copy() : memory_copy();
    if (fd < 0) copy_failed(errno);
    sealed_copy.fd = fd;
    sealed_copy.size = 0;
}

void copy_package_bytes(uint64_t offset, const unsigned char* bytes, size_t count) {
    if (sealed_copy.fd < 0) return;
    if (!all_zero(bytes, count)) {
        for (size_t done = 0; done < count;) {
            const ssize_t written =
                ::pwrite(sealed_copy.fd, bytes + done, count - done, static_cast<off_t>(offset + done));
            if (written <= 0) copy_failed(written < 0 ? errno : ENOSPC);
            done += static_cast<size_t>(written);
        }
    }
    if (offset + count > sealed_copy.size) sealed_copy.size = offset + count;
}

uint64_t seal_package_copy() {
    if (::ftruncate(sealed_copy.fd, static_cast<off_t>(sealed_copy.size)) != 0) copy_failed(errno);
    // A file copy takes no seals; it is unnamed, and only this run holds it.
    if (::fcntl(sealed_copy.fd, F_ADD_SEALS, ALL_SEALS) != 0 && errno != EINVAL) copy_failed(errno);
    ::setrlimit(RLIMIT_FSIZE, &sealed_copy.file_size_limit);
    sealed_copy.file_fd = installer_state.package_fd;
    installer_state.package_fd = sealed_copy.fd;
    return sealed_copy.size;
}

void release_sealed_copy() {
    if (sealed_copy.fd < 0) return;
    ::close(sealed_copy.fd);
    if (sealed_copy.file_fd >= 0) installer_state.package_fd = sealed_copy.file_fd;
    sealed_copy = SealedCopy{};
}
