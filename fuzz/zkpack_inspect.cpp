// zkpack list and zkpack verify on any file.
// Input: the file's bytes.
//
// The two commands take a path, so the bytes go to an in-memory file that
// is opened again through /proc.
#include "fuzz_support.h"

#include "inspect.h"
#include "io.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <string>

using zkfuzz::require;

namespace {

int package_fd = -1;
std::string package_path;

void write_package(const uint8_t* data, size_t size) {
    require(::ftruncate(package_fd, 0) == 0, "the package file can be emptied");
    for (size_t done = 0; done < size;) {
        const ssize_t n = ::pwrite(package_fd, data + done, size - done, static_cast<off_t>(done));
        require(n > 0, "the package file can be written");
        done += static_cast<size_t>(n);
    }
}

// The command's exit status, or -1 when it stopped with a failure.
template <typename Command>
int run_command(Command command) {
    try {
        return command(package_path);
    } catch (const zkpack::Failure&) {
        return -1;
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    package_fd = ::memfd_create("package", 0);
    require(package_fd >= 0, "an in-memory file can be made");
    package_path = "/proc/self/fd/" + std::to_string(package_fd);
    // The listings would drown the fuzzer's own output.
    require(std::freopen("/dev/null", "w", stdout) != nullptr, "standard output can be discarded");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    write_package(data, size);
    const int listed = run_command(zkpack::list_package);
    const int verified = run_command(zkpack::verify_package);
    require(listed == 0 || listed == 1 || listed == -1, "list ends with 0, 1 or a failure");
    require(listed == verified, "list and verify judge a package alike");
    return 0;
}
