// Payloads that go into the package as one compressed stream: a script, a
// directory tree, an archive.
#pragma once

#include "archive_check.h"
#include "output.h"
#include "stream_compressors.h"
#include "tree_scan.h"

#include <ctime>
#include <optional>
#include <string>

namespace zkpack {

struct PackSettings {
    CompressionChoice compression;
    int threads;         // compressing at once
    bool show_progress;  // a bar on standard error while compressing
};

// label names the input in the progress bar.
void write_compressed_file(const std::string& path, const std::string& label, const PackSettings& settings,
                           PackageOutput& output);
void write_tree_payload(const Tree& tree, std::optional<time_t> mtime, const PackSettings& settings,
                        PackageOutput& output);
// A .tar.bz2, .tar.zst or .tar.xz goes in as it is; a .tar is compressed.
void write_archive_payload(const ArchiveInput& archive, const PackSettings& settings, PackageOutput& output);

}  // namespace zkpack
