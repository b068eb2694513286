#include "compressed_payloads.h"

#include "progress.h"
#include "tar_tree.h"

#include <cstdint>

namespace zkpack {

namespace {

// An installer that would grow past its limit is refused naming the input
// that takes it there, not the output.
ByteSink package_sink(PackageOutput& output, const std::string& source) {
    return [&output, source](const unsigned char* data, size_t length) {
        output.check_room(length, source);
        output.append(data, length);
    };
}

}  // namespace

void write_compressed_file(const std::string& path, const std::string& label, const PackSettings& settings,
                           PackageOutput& output) {
    const FileDescriptor input = open_for_reading(path);
    const FileStamp stamp = stamp_of(input.get(), path);
    Progress progress(settings.show_progress, label, size_of(input.get(), path));
    const auto compressor = make_compressor(settings.compression, settings.threads, package_sink(output, path));
    for_each_block(input.get(), path, 0, UINT64_MAX, [&](const unsigned char* block, size_t length) {
        compressor->write(block, length);
        progress.add(length);
        return true;
    });
    check_unchanged(input.get(), path, stamp);
    compressor->finish();
    progress.finish();
}

void write_tree_payload(const Tree& tree, std::optional<time_t> mtime, const PackSettings& settings,
                        PackageOutput& output) {
    Progress progress(settings.show_progress, "--tree " + tree.root, tree.data_size);
    const auto compressor =
        make_compressor(settings.compression, settings.threads, package_sink(output, tree.root));
    write_tree(
        tree, mtime, [&](const unsigned char* data, size_t length) { compressor->write(data, length); }, progress);
    compressor->finish();
    progress.finish();
}

void write_archive_payload(const ArchiveInput& archive, const PackSettings& settings, PackageOutput& output) {
    if (archive.compressed) {
        append_file(output, archive.path);
    } else {
        write_compressed_file(archive.path, "--archive " + archive.path, settings, output);
    }
}

}  // namespace zkpack
