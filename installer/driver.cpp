#include "driver.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <zk/base/chk.h>
#include <zk/file/filename.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "command_line.h"
#include "dispatch.h"
#include "fatal.h"
#include "installer_state.h"
#include "package.h"
#include "package_info.h"
#include "record_walk.h"
#include "run_signals.h"
#include "sealed_copy.h"
#include "signature_check.h"
#include "temp_dir.h"
#include "temp_file.h"
#include "verify.h"
#include "version.h"
#include "welcome_record.h"

using namespace package_format;

namespace {

// The running executable as the system names it, for a start that argv[0]
// and PATH do not lead back to (no PATH at all, as under env -i); null where
// the system does not tell. Kept for the whole run.
const char* running_executable() {
    std::vector<char> name(256);
    for (;;) {
        const ssize_t length = ::readlink("/proc/self/exe", name.data(), name.size());
        if (length <= 0) return nullptr;
        if (static_cast<size_t>(length) < name.size()) {
            name[static_cast<size_t>(length)] = '\0';
            return zk::chk_strdup(name.data());
        }
        name.resize(name.size() * 2);
    }
}

// The file the kernel runs, which no rename or swap of its name changes;
// the name found stays what messages show and where a signature is looked
// for. A system without /proc falls back to the name.
int open_running_file(const char* path) {
    const int running = ::open("/proc/self/exe", O_RDONLY | O_CLOEXEC);
    return running >= 0 ? running : ::open(path, O_RDONLY | O_CLOEXEC);
}

// Opens the running executable; returns its size.
uint64_t open_package(const char* argv0) {
    const char* path = zk::find_exec_path(std::getenv("PATH"), argv0);
    if (path == nullptr) path = running_executable();
    if (path == nullptr) {
        std::printf(
            "Error: couldn't locate directory where the install binary is\n"
            "       being run from. Please ensure you are in the same directory\n"
            "       as %s when you run it.\n",
            argv0);
        fatal_exit();
    }
    installer_state.package_path = path;
    installer_state.package_fd = open_running_file(path);
    struct stat status {};
    if (installer_state.package_fd < 0 || ::fstat(installer_state.package_fd, &status) != 0) {
        const int error = errno;
        std::printf(
            "Error: cannot open file to extract the package.\n"
            "       File: %s\n",
            path);
        std::fflush(stdout);
        // As perror would say it, without linking in its wide-character output.
        std::fprintf(stderr, "Cannot open: %s\n", std::strerror(error));
        fatal_exit();
    }
    return static_cast<uint64_t>(status.st_size);
}

// A closed descriptor would be taken by the next file opened, the package
// included, which would then be read as replies or written over.
void open_closed_standard_streams() {
    for (int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
        if (::fcntl(fd, F_GETFD) >= 0 || errno != EBADF) continue;
        const int opened = ::open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
        if (opened != fd) {
            std::fprintf(stderr, "Error: standard stream %d is closed and /dev/null cannot be opened\n", fd);
            fatal_exit();
        }
    }
}

const char* installer_version() {
    static std::array<char, 16> version;
    std::snprintf(version.data(), version.size(), "%d.%03d", VERSION_MAJOR, VERSION_MINOR);
    return version.data();
}

// The banner's first line, and the last that --version shows.
const char* version_line() {
    static std::array<char, 64> line;
    std::snprintf(line.data(), line.size(), "ZKINSTALL v%s Copyright (c) Zelkor Software\n", installer_version());
    return line.data();
}

// What --version shows of the package: read as it stands, without
// verification, and nothing at all when this is an installer without a
// package, which --version must still answer.
void gather_unverified_facts(const char* argv0) {
    const char* path = zk::find_exec_path(std::getenv("PATH"), argv0);
    if (path == nullptr) path = running_executable();
    const int fd = path != nullptr ? open_running_file(path) : -1;
    // Only the descriptor is needed from here.
    zk::chk_free(const_cast<char*>(path));
    struct stat status {};
    if (fd < 0 || ::fstat(fd, &status) != 0) {
        if (fd >= 0) ::close(fd);
        return;
    }
    const uint64_t size = static_cast<uint64_t>(status.st_size);
    const uint32_t marker_offset = find_marker(fd, 0, static_cast<uint32_t>(std::min<uint64_t>(size, UINT32_MAX)));
    assemble_marker(installer_state.marker);
    Header header;
    const bool has_header =
        ::pread(fd, header.data(), header.size(), marker_offset) == static_cast<ssize_t>(header.size()) &&
        std::memcmp(header.data(), installer_state.marker.data(), MARKER_SIZE) == 0;
    DescriptorReader package(fd);
    if (has_header) gather_package_facts(package, uint64_t{marker_offset} + HEADER_SIZE, size);
    ::close(fd);
}

int answer_version(const char* argv0) {
    gather_unverified_facts(argv0);
    print_product_line();
    std::fputs(version_line(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
}

void print_banner() {
    if (!shows_progress()) return;
    const int written = std::fprintf(stderr, "%s\nVerifying package file: %s\nThis may take a moment...\n",
                                     version_line(), installer_state.package_path);
    if (written < 0) fatal_exit();
}

// --help does not look into the package, --version only reads it: neither
// verifies it nor sets up a run.
int answer_without_package(const char* argv0) {
    switch (installer_state.run_mode) {
        case RunMode::usage_error: return EXIT_USAGE;
        case RunMode::help: return print_help(argv0) ? 0 : 1;
        case RunMode::version: return answer_version(argv0);
        default: return -1;
    }
}

void print_final_message(bool failed) {
    switch (installer_state.run_mode) {
        case RunMode::install:
            std::fputs(failed ? "ERROR: Installation failed.\n" : "Installation successfully completed.\n", stdout);
            break;
        case RunMode::extract:
            std::fputs(failed ? "ERROR: Extraction failed.\n" : "Extraction successfully completed.\n", stdout);
            break;
        default: break;
    }
}

// Carries out the records from the header's end to the file's end; returns
// whether one whose result counts failed. A record that ended the
// installation is the last carried out.
bool walk_records(uint32_t marker_offset, uint64_t file_size) {
    DescriptorReader package(installer_state.package_fd);
    bool install_failed = false;
    const WalkResult walked =
        package_format::walk_records(package, uint64_t{marker_offset} + HEADER_SIZE, file_size, [&](const Record& record) {
            const RecordHandlerEntry* entry = find_record_handler(record.kind);
            if (entry == nullptr) {
                std::fprintf(stderr, "Unexpected error in package file\n");
                fatal_exit();
            }
            PayloadReader payload(package, record);
            const RecordResult result = entry->handler(payload);
            if (result != RecordResult::done && entry->result_counts) install_failed = true;
            return result != RecordResult::ended;
        });
    if (walked.end == WalkEnd::cut_short) {
        std::fprintf(stderr, "Error extracting package -- premature EOF detected.\n");
        fatal_exit();
    }
    return install_failed;
}

}  // namespace

void set_up_process() {
    open_closed_standard_streams();
    installer_state.temp_dir = choose_temp_dir();
    ::umask(022);
    // Output into a reader that has quit fails with an error instead of killing us.
    std::signal(SIGPIPE, SIG_IGN);
    // Programs, scripts and the -d shell read the same standard input after
    // us: a reply must not take more of it than its own line.
    std::setvbuf(stdin, nullptr, _IONBF, 0);
    // A signal's report must come after every line printed before it.
    if (installer_state.stream_only == 0) std::setvbuf(stdout, nullptr, _IOLBF, 0);
    assemble_marker(installer_state.marker);
}

int install_package(uint64_t file_size) {
    print_banner();
    const uint32_t marker_offset = verify_package(installer_state.package_fd, file_size);
    enter_named_directory();
    const bool install_failed = walk_records(marker_offset, file_size);
    release_sealed_copy();
    remove_temp_dir();
    print_final_message(install_failed);
    // A failed record must not look like success to whoever ran us.
    return install_failed ? 1 : 0;
}

namespace {

// --info: the package is verified as for an installation, then only read.
int report_package_info(uint64_t file_size) {
    const uint32_t marker_offset = verify_package(installer_state.package_fd, file_size);
    DescriptorReader package(installer_state.package_fd);
    gather_package_facts(package, uint64_t{marker_offset} + HEADER_SIZE, file_size);
    print_package_info(file_size, installer_version(), package_signer_id().c_str());
    release_sealed_copy();
    remove_temp_dir();
    return std::fflush(stdout) == 0 ? 0 : 1;
}

}  // namespace

int zkinstall(const char* argv0) {
    if (const int status = answer_without_package(argv0); status >= 0) return status;
    set_up_process();
    catch_run_signals();
    const uint64_t file_size = open_package(argv0);
    const int status =
        installer_state.run_mode == RunMode::info ? report_package_info(file_size) : install_package(file_size);
    release_run_signals();
    return status;
}
