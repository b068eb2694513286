#include "driver.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <zk/base/byteorder.h>
#include <zk/file/filename.h>

#include <array>
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "command_line.h"
#include "dispatch.h"
#include "fatal.h"
#include "installer_state.h"
#include "package.h"
#include "verify.h"
#include "welcome_record.h"

using namespace package_format;

namespace {

constexpr int VERSION_MAJOR = 1;
constexpr int VERSION_MINOR = 7;

// Opens the running executable; returns its size.
uint64_t open_package(const char* argv0) {
    const char* path = zk::find_exec_path(std::getenv("PATH"), argv0);
    if (path == nullptr) {
        std::printf("Error: couldn't locate directory where the install binary is\n"
                    "       being run from. Please ensure you are in the same directory\n"
                    "       as %s when you run it.\n",
                    argv0);
        fatal_exit();
    }
    installer_state.package_path = path;
    installer_state.package_fd = ::open(path, O_RDONLY);
    if (installer_state.package_fd < 0) {
        std::printf("Error: cannot open file to extract the package.\n"
                    "       File: %s\n",
                    path);
        std::fflush(stdout);
        std::perror("Cannot open");
        fatal_exit();
    }
    struct stat status {};
    ::fstat(installer_state.package_fd, &status);
    return static_cast<uint64_t>(status.st_size);
}

// The banner's first line, and all that --version shows.
const char* version_line() {
    static std::array<char, 64> line;
    std::snprintf(line.data(), line.size(), "ZKINSTALL v%d.%03d Copyright (c) Zelkor Software\n", VERSION_MAJOR,
                  VERSION_MINOR);
    return line.data();
}

void print_banner() {
    if (!shows_progress()) return;
    const int written = std::fprintf(stderr, "%s\nVerifying package file: %s\nThis may take a moment...\n",
                                     version_line(), installer_state.package_path);
    if (written < 0) fatal_exit();
}

// --help and --version do not look into the package at all.
int answer_without_package(const char* argv0) {
    switch (installer_state.run_mode) {
        case RunMode::usage_error:
            return EXIT_USAGE;
        case RunMode::help:
            return print_help(argv0) ? 0 : 1;
        case RunMode::version:
            std::fputs(version_line(), stdout);
            return std::fflush(stdout) == 0 ? 0 : 1;
        default:
            return -1;
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
        default:
            break;
    }
}

// Carries out the records from the header's end to the file's end; returns
// whether one whose result counts failed.
bool walk_records(uint32_t marker_offset, uint64_t file_size) {
    const int fd = installer_state.package_fd;
    bool install_failed = false;
    uint64_t offset = uint64_t{marker_offset} + HEADER_SIZE;
    while (offset < file_size) {
        std::array<unsigned char, PREFIX_SIZE> prefix;
        if (::lseek(fd, static_cast<off_t>(offset), SEEK_SET) < 0 ||
            ::read(fd, prefix.data(), prefix.size()) != static_cast<ssize_t>(prefix.size())) {
            std::fprintf(stderr, "Error extracting package -- premature EOF detected.\n");
            fatal_exit();
        }
        const RecordHandlerEntry* entry = find_record_handler(prefix[PREFIX_KIND]);
        if (entry == nullptr) {
            std::fprintf(stderr, "Unexpected error in package file\n");
            fatal_exit();
        }
        if (entry->handler(fd, prefix.data()) != 0 && entry->result_counts) install_failed = true;
        offset += PREFIX_SIZE + zk::LGET32(prefix.data() + PREFIX_LENGTH);
    }
    return install_failed;
}

}  // namespace

void set_up_process() {
    const char* temp = std::getenv("TEMP");
    if (temp == nullptr) temp = std::getenv("TMP");
    installer_state.temp_dir = temp != nullptr ? temp : ".";
    ::umask(022);
    // Output into a reader that has quit fails with an error instead of killing us.
    std::signal(SIGPIPE, SIG_IGN);
    // Programs, scripts and the -d shell read the same standard input after
    // us: a reply must not take more of it than its own line.
    std::setvbuf(stdin, nullptr, _IONBF, 0);
    assemble_marker(installer_state.marker);
}

int install_package(uint64_t file_size) {
    print_banner();
    const uint32_t marker_offset = verify_package(installer_state.package_fd, file_size);
    enter_named_directory();
    const bool install_failed = walk_records(marker_offset, file_size);
    print_final_message(install_failed);
    // A failed record must not look like success to whoever ran us.
    return install_failed ? 1 : 0;
}

int zkinstall(const char* argv0) {
    if (const int status = answer_without_package(argv0); status >= 0) return status;
    set_up_process();
    return install_package(open_package(argv0));
}
