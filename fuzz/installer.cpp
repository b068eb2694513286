// The whole installer on a package of any records, inside this process.
// Input: a switch byte (1: -gz, 2: -d, 4: the shell cannot start what it is
// given), then the records that follow the package header.
//
// The target seals the records into a package (a stub, the header with the
// marker, the length and the checksum) and runs the installer's own
// verification and record walk on it. Fatal errors come back here through
// the fatal exit hook; what the installer would hand to the shell goes to a
// recorder. The run's working directory, TEMP and the install directory lie
// in a scratch root, beside a sentinel directory that must stay empty.
//
// Standard input answers every question with the scratch install directory:
// at its end the directory question would take the default under /usr/local,
// which as root the run would make and unpack into. The other questions take
// that answer as a refusal, as they take the end of input.
#include "fuzz_support.h"
#include "scratch.h"

#include "driver.h"
#include "fatal.h"
#include "installer_state.h"
#include "package_checksum.h"
#include "package_format.h"
#include "shell_command.h"

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <zk/base/byteorder.h>
#include <zk/base/chk.h>
#include <zk/file/filename.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

extern char** environ;

using namespace package_format;
using zkfuzz::require;

namespace {

constexpr uint8_t SWITCH_STREAM_ONLY = 1;
constexpr uint8_t SWITCH_DEBUG_SHELL = 2;
constexpr uint8_t SWITCH_SHELL_FAILS = 4;

constexpr char STUB[] = "stub\n";
// The temporary file in the run's private directory, whose last six
// characters are random.
constexpr char TEMP_DIR_PREFIX[] = "/zkinstall.";
constexpr size_t TEMP_DIR_RANDOM = 6;
constexpr char TEMP_FILE_NAME[] = "/zkinstall-temp.exe";
// What system() returns when the shell cannot find the command.
constexpr int SHELL_NOT_FOUND = 127 << 8;

struct FatalExit {};

std::string scratch_root;
std::string work_dir;
std::string temp_dir;
std::string install_dir;
std::string sentinel_dir;

int package_fd = -1;
size_t answers_written = 0;
std::vector<char*> start_environment;  // environ's entries before any run
bool shell_fails = false;

[[noreturn]] void return_to_target() { throw FatalExit{}; }

int record_command(const char* command) {
    if (std::strcmp(command, "sh -i") == 0) {
        require(installer_state.debug_shell != 0, "the debug shell is opened only under -d");
    } else {
        // The shell replaces itself with the file, so that its status is the file's.
        const std::string quoted = command;
        const std::string exec = "exec ";
        const std::string start = exec + "'" + temp_dir + TEMP_DIR_PREFIX;
        const std::string end = std::string(TEMP_FILE_NAME) + "'";
        require(quoted.size() == start.size() + TEMP_DIR_RANDOM + end.size() && quoted.rfind(start, 0) == 0 &&
                    quoted.compare(quoted.size() - end.size(), end.size(), end) == 0,
                "the shell is given nothing but the temporary file in a private directory");
        struct stat status;
        const std::string path = quoted.substr(exec.size() + 1, quoted.size() - exec.size() - 2);
        require(::lstat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode),
                "what the shell is given is a regular file");
    }
    return shell_fails ? SHELL_NOT_FOUND : 0;
}

void write_all(int fd, const void* bytes, size_t size) {
    for (size_t done = 0; done < size;) {
        const ssize_t n = ::write(fd, static_cast<const char*>(bytes) + done, size - done);
        require(n > 0, "a scratch file can be written");
        done += static_cast<size_t>(n);
    }
}

// Standard input holds a line per record the input could hold, so no welcome
// text record finds it at its end.
void provide_answers(size_t records) {
    const std::string answer = install_dir + "\n";
    for (; answers_written < records; ++answers_written) {
        require(::lseek(STDIN_FILENO, 0, SEEK_END) >= 0, "standard input can be extended");
        write_all(STDIN_FILENO, answer.data(), answer.size());
    }
    std::rewind(stdin);
}

// The stub, the header and the records, the length and checksum filled in.
void write_package(const unsigned char* records, size_t size) {
    std::array<unsigned char, HEADER_SIZE> header{};
    std::memcpy(header.data(), installer_state.marker.data(), MARKER_SIZE);
    zk::LPUT32(header.data() + HEADER_LENGTH, static_cast<uint32_t>(HEADER_SIZE + size));
    Checksum checksum(std::strlen(STUB));
    checksum.add(reinterpret_cast<const unsigned char*>(STUB), std::strlen(STUB));
    checksum.add(header.data(), header.size());
    checksum.add(records, size);
    zk::LPUT32(header.data() + HEADER_CHECKSUM, checksum.value());

    require(::ftruncate(package_fd, 0) == 0 && ::lseek(package_fd, 0, SEEK_SET) == 0, "the package can be emptied");
    write_all(package_fd, STUB, std::strlen(STUB));
    write_all(package_fd, header.data(), header.size());
    write_all(package_fd, records, size);
}

// The exit status, or -1 after a fatal error.
int run_installer(uint64_t package_size) {
    zkfuzz::CwdKeeper keeper;
    require(::chdir(work_dir.c_str()) == 0, "the working directory can be entered");
    zk::get_cwd_changed_directory();
    int status = -1;
    try {
        status = install_package(package_size);
    } catch (const FatalExit&) {}
    return status;
}

// Puts back the environment the run began with, and frees the strings that
// the run's putenv calls left in it.
void restore_environment() {
    std::vector<char*> added;
    size_t kept = 0;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        if (std::find(start_environment.begin(), start_environment.end(), *entry) == start_environment.end()) {
            added.push_back(*entry);
        } else {
            ++kept;
        }
    }
    if (added.empty() && kept == start_environment.size()) return;
    ::clearenv();
    for (char* entry : start_environment) ::putenv(entry);
    for (char* entry : added) zk::chk_free(entry);
}

// Forgets what the run left in the installer state and the library's caches.
void reset_process_state() {
    zk::get_cwd_changed_directory();
    zk::chk_free(installer_state.install_dir);
    installer_state.install_dir = nullptr;
    restore_environment();
}

void check_scratch_root() {
    require(zkfuzz::list_directory(scratch_root) == std::vector<std::string>{"install", "sentinel", "temp", "work"},
            "nothing is written beside the working, temporary and install directories");
    require(zkfuzz::list_directory(sentinel_dir).empty(), "nothing is written into the sentinel directory");
    require(zkfuzz::list_directory(temp_dir).empty(), "the private directory is gone after every run");
    for (const std::string* dir : {&work_dir, &temp_dir, &install_dir}) {
        require(zkfuzz::holds_no_pipes_or_devices(*dir), "the installer makes no pipes or devices");
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    scratch_root = zkfuzz::make_scratch_root("installer");
    work_dir = scratch_root + "/work";
    temp_dir = scratch_root + "/temp";
    install_dir = scratch_root + "/install";
    sentinel_dir = scratch_root + "/sentinel";
    zkfuzz::make_empty_directory(sentinel_dir);

    const int answers = ::memfd_create("answers", 0);
    require(answers >= 0 && ::dup2(answers, STDIN_FILENO) == STDIN_FILENO, "standard input can be replaced");
    ::close(answers);
    package_fd = ::memfd_create("package", 0);
    require(package_fd >= 0, "an in-memory file can be made");
    // The installer's messages would drown the fuzzer's own output.
    require(std::freopen("/dev/null", "w", stdout) != nullptr, "standard output can be discarded");

    require(::setenv("TEMP", temp_dir.c_str(), 1) == 0, "TEMP can be set");
    set_up_process();
    for (char** entry = environ; *entry != nullptr; ++entry) start_environment.push_back(*entry);
    installer_state.package_fd = package_fd;
    installer_state.package_path = "package";
    fatal_exit_hook = return_to_target;
    shell_command_hook = record_command;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const uint8_t switches = data[0];
    const unsigned char* records = data + 1;
    const size_t records_size = size - 1;
    installer_state.stream_only = (switches & SWITCH_STREAM_ONLY) != 0;
    installer_state.debug_shell = (switches & SWITCH_DEBUG_SHELL) != 0;
    shell_fails = (switches & SWITCH_SHELL_FAILS) != 0;

    write_package(records, records_size);
    provide_answers(records_size / PREFIX_SIZE + 1);
    for (const std::string* dir : {&work_dir, &temp_dir, &install_dir}) zkfuzz::make_empty_directory(*dir);

    const int descriptors = zkfuzz::count_open_descriptors();
    const int status = run_installer(std::strlen(STUB) + HEADER_SIZE + records_size);
    reset_process_state();
    require(status == -1 || status == 0 || status == 1, "the installer ends with status 0 or 1");
    require(zkfuzz::count_open_descriptors() == descriptors, "no descriptor is left open");
    check_scratch_root();
    return 0;
}
