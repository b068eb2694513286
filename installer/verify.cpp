#include "verify.h"

#include <unistd.h>

#include <zk/base/byteorder.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "fatal.h"
#include "installer_state.h"
#include "package.h"
#include "sealed_copy.h"
#include "signature_check.h"
#include "verify_internal.h"

using namespace package_format;

namespace {

// Only a bare Enter goes on; anything else, or the end of input, ends the
// run. A run that may not ask ends at once: a damaged package is never
// installed unattended.
void ask_to_continue(FILE* prompt_stream) {
    if (!may_ask()) fatal_exit();
    std::fputs("    Press <Enter> to continue: ", prompt_stream);
    std::array<char, 1024> reply;
    std::fflush(stdout);
    if (std::fgets(reply.data(), static_cast<int>(reply.size()), stdin) == nullptr || reply[0] != '\n') {
        fatal_exit();
    }
}

void read_header(int fd, uint32_t marker_offset, Header& header) {
    if (::lseek(fd, marker_offset, SEEK_SET) < 0 ||
        ::read(fd, header.data(), header.size()) != static_cast<ssize_t>(header.size())) {
        std::fprintf(stderr, "Error reading package header\n");
        fatal_exit();
    }
    copy_package_bytes(marker_offset, header.data(), header.size());
    installer_state.ignore_script_status = (header[HEADER_FLAGS] & FLAG_IGNORE_SCRIPT_STATUS) != 0;
}

void check_marker(const Header& header) {
    if (std::memcmp(header.data(), installer_state.marker.data(), MARKER_SIZE) != 0 ||
        header[HEADER_TERMINATOR] != '\0') {
        std::fprintf(stderr, "Cannot locate package payload.\n");
        fatal_exit();
    }
}

void check_size(const Header& header, uint32_t marker_offset, uint64_t file_size) {
    const uint64_t expected = uint64_t{marker_offset} + zk::LGET32(header.data() + HEADER_LENGTH);
    if (expected == file_size) return;
    std::printf(
        "\n*** Error:\n"
        "    Package is corrupt - incorrect size detected.\n"
        "    File size should be: %llu bytes\n"
        "    Actual size        : %llu bytes\n",
        static_cast<unsigned long long>(expected), static_cast<unsigned long long>(file_size));
    ask_to_continue(stdout);
}

// Adds the rest of the file, after the header, and returns the checksum of
// everything added.
uint32_t checksum_records(int fd, uint32_t marker_offset, Checksum& checksum) {
    std::array<unsigned char, READ_BLOCK_SIZE> block;
    uint64_t offset = uint64_t{marker_offset} + HEADER_SIZE;
    // Nothing more added: the checksum then tells that the file was not read.
    if (::lseek(fd, static_cast<off_t>(offset), SEEK_SET) < 0) return checksum.value();
    ssize_t count;
    while ((count = ::read(fd, block.data(), block.size())) > 0) {
        checksum.add(block.data(), static_cast<size_t>(count));
        hash_package_bytes(block.data(), static_cast<size_t>(count));
        copy_package_bytes(offset, block.data(), static_cast<size_t>(count));
        offset += static_cast<uint64_t>(count);
    }
    return checksum.value();
}

void check_checksum(uint32_t stored, uint32_t computed) {
    if (stored == computed) return;
    std::printf(
        "\n*** Error:\n"
        "    Package is corrupt - file has failed checksum.\n"
        "    Expected CRC: %08lx Calculated: %08lx\n",
        static_cast<unsigned long>(stored), static_cast<unsigned long>(computed));
    std::fflush(stdout);
    ask_to_continue(stderr);
}

}  // namespace

Checksum checksum_program_image(int fd, uint32_t marker_offset) {
    std::array<unsigned char, READ_BLOCK_SIZE> block;
    Checksum checksum(marker_offset);
    // A file that cannot seek (a pipe) is read from where it stands; one
    // that fails to adds nothing, which the checksum then tells.
    if (::lseek(fd, 0, SEEK_SET) < 0 && errno != ESPIPE) return checksum;
    time_t noted = std::time(nullptr);
    uint32_t processed = 0;
    while (processed < marker_offset) {
        const size_t wanted = std::min<size_t>(block.size(), marker_offset - processed);
        const ssize_t count = ::read(fd, block.data(), wanted);
        if (count <= 0) break;
        checksum.add(block.data(), static_cast<size_t>(count));
        hash_package_bytes(block.data(), static_cast<size_t>(count));
        copy_package_bytes(processed, block.data(), static_cast<size_t>(count));
        processed += static_cast<uint32_t>(count);
        const time_t now = std::time(nullptr);
        if (now != noted && shows_progress()) {
            std::fprintf(stderr, "(processing .. %ld%% complete)\n",
                         static_cast<long>(uint64_t{processed} * 100 / marker_offset));
            noted = now;
        }
    }
    return checksum;
}

uint32_t verify_package(int fd, uint64_t& file_size) {
    // Not found gives 0, and the file does not start with the marker: the
    // header check below reports it.
    const uint32_t limit = static_cast<uint32_t>(std::min<uint64_t>(file_size, UINT32_MAX));
    const uint32_t marker_offset = find_marker(fd, 0, limit);
    load_package_signature();
    start_sealed_copy(file_size);
    Checksum checksum = checksum_program_image(fd, marker_offset);
    if (shows_progress()) std::fprintf(stderr, "\n");

    Header header;
    read_header(fd, marker_offset, header);
    hash_package_bytes(header.data(), header.size());
    check_marker(header);
    const uint32_t stored = zk::LGET32(header.data() + HEADER_CHECKSUM);
    checksum.add(header.data(), header.size());
    const uint32_t computed = checksum_records(fd, marker_offset, checksum);
    file_size = seal_package_copy();
    // A bad signature ends the run before either prompt could offer to go on.
    check_package_signature();
    check_size(header, marker_offset, file_size);
    check_checksum(stored, computed);
    return marker_offset;
}
