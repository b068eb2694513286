#include "writer.h"

#include "elf.h"
#include "format.h"
#include "layout.h"
#include "output.h"
#include "output_apart.h"
#include "progress.h"
#include "records.h"

#include <processors.h>

#include <unistd.h>

#include <algorithm>
#include <array>
#include <climits>
#include <optional>
#include <string_view>
#include <vector>

namespace zkpack {

namespace {

// The installers built with this zkpack lie in a directory of their own
// relative to it, in the build tree as when installed: zkinstall-ARCH for
// each architecture.
std::string installer_program(const std::string& name) {
    std::array<char, PATH_MAX> self{};
    const ssize_t n = ::readlink("/proc/self/exe", self.data(), self.size() - 1);
    if (n <= 0)
        fail_system("/proc/self/exe",
                    "cannot find zkpack's own file, nor " + name + " relative to it (give --stub FILE)");
    // The kernel gives the file's resolved name, so each ".." of the layout
    // can be taken off as text.
    std::string dir(self.data(), static_cast<size_t>(n));
    const auto to_parent = [&dir] { dir.erase(std::min(dir.rfind('/'), dir.size())); };
    to_parent();
    std::string_view relative = STUB_DIR_FROM_ZKPACK;
    while (relative.substr(0, 3) == "../") {
        to_parent();
        relative.remove_prefix(3);
    }
    return dir + "/" + std::string(relative) + "/" + name;
}

std::string chosen_stub(const Options& options) {
    if (!options.stub.empty()) return options.stub;
    const bool native = options.arch.empty();
    const std::string stub = installer_program("zkinstall-" + (native ? std::string(NATIVE_ARCH) : options.arch));
    if (::access(stub.c_str(), R_OK) != 0) {
        const std::string what = native ? "the default stub" : "the installer program for " + options.arch;
        fail_system(stub, "cannot open " + what + " (give --stub FILE)");
    }
    return stub;
}

// Anything but an executable would make a package that cannot start; an
// installer chosen by --arch must have been built for it.
void check_stub(const std::string& path, const Options& options) {
    const FileDescriptor file = open_for_reading(path);
    const std::optional<unsigned> machine = executable_machine(file.get(), path, size_of(file.get(), path));
    if (!machine) fail(path, "is not an ELF executable, so it cannot serve as the installer program");
    if (options.stub.empty() && !options.arch.empty() && machine != architecture_machine(options.arch)) {
        fail(path, "is an installer program for " + machine_name(*machine) + ", not " + options.arch);
    }
}

void copy_stub(const std::string& path, PackageOutput& output) {
    MarkerSearch search;
    append_file(output, path, [&](const unsigned char* block, size_t length) {
        if (search.feed(block, length)) {
            // The installer would take that marker for its package's.
            fail(path, "contains the package marker at offset " + std::to_string(search.offset()) +
                           ", so it cannot serve as the installer program");
        }
    });
}

// Length and checksum stay zero until everything after the header is written.
void write_header(PackageOutput& output, const Options& options) {
    std::array<unsigned char, HEADER_SIZE> header{};
    if (options.ignore_script_status) header[HEADER_FLAGS] |= FLAG_IGNORE_SCRIPT_STATUS;
    const Marker& marker = package_marker();
    std::copy(marker.begin(), marker.end(), header.begin() + HEADER_MARKER);
    header[HEADER_TERMINATOR] = 0;
    output.append(header.data(), header.size());
}

}  // namespace

void create_package(const Options& options) {
    std::vector<PreparedRecord> records;
    for (const auto& record : options.records) records.push_back(prepare_record(record));
    // More threads than this rarely pay for their memory unless asked for.
    constexpr int DEFAULT_MAX_THREADS = 8;
    const int threads = options.threads != 0 ? options.threads : bzip2_blocks::usable_processors(DEFAULT_MAX_THREADS);
    CompressionChoice compression = options.compression;
    if (compression.compression == payload_codec::Compression::bzip2) compression.level = options.block_size;
    const PackSettings settings{compression, threads, progress_wanted(options.quiet)};
    const std::string stub = chosen_stub(options);
    check_stub(stub, options);
    check_output_apart(options.output, stub, options.records);

    PackageOutput output(options.output);
    copy_stub(stub, output);
    const uint64_t marker_offset = output.size();
    write_header(output, options);
    for (const auto& record : records) write_record(record, settings, output);

    output.patch32(marker_offset + HEADER_LENGTH, static_cast<uint32_t>(output.size() - marker_offset));
    output.patch32(marker_offset + HEADER_CHECKSUM, output.checksum(marker_offset));
    output.commit();
}

}  // namespace zkpack
