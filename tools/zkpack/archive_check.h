// --archive: an existing tar archive, or one compressed by bzip2, zstd or xz (in one stream
// or several back to back), read through before it is packed so that every
// entry is one the installer reproduces as tar programs would.
#pragma once

#include <cstdint>
#include <string>

namespace zkpack {

struct ArchiveInput {
    std::string path;
    bool compressed;  // a .tar.bz2, .tar.zst or .tar.xz, packed as it is; a .tar is compressed by zkpack
    uint64_t size;
};

// Fails, naming the archive and the entry, at the first thing the installer
// could not unpack as meant.
ArchiveInput check_archive(const std::string& path);

}  // namespace zkpack
