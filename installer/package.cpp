#include "package.h"

#include <unistd.h>

#include <cstring>

#include "installer_state.h"

using namespace package_format;

namespace {

enum class BlockScan { none, found, cut };

// Looks for the marker in one block. `at` receives the index of the match,
// or of a candidate that the block's end cuts short.
BlockScan scan_block(const unsigned char* block, size_t n, const char* marker, size_t length, size_t& at) {
    for (size_t next = 0; next < n; next = at + 1) {
        const void* found = std::memchr(block + next, marker[0], n - next);
        if (found == nullptr) return BlockScan::none;
        at = static_cast<size_t>(static_cast<const unsigned char*>(found) - block);
        if (at + length > n) return BlockScan::cut;
        if (std::memcmp(found, marker, length) == 0) return BlockScan::found;
    }
    return BlockScan::none;
}

}  // namespace

void assemble_marker(std::array<char, MARKER_BUFFER_SIZE>& marker) {
    std::strcpy(marker.data(), MARKER_HEAD);
    std::strcat(marker.data(), MARKER_TAIL);
}

uint32_t find_marker(int fd, uint32_t start, uint32_t limit) {
    const char* marker = installer_state.marker.data();
    const size_t length = std::strlen(marker);
    std::array<unsigned char, READ_BLOCK_SIZE> block;

    if (::lseek(fd, start, SEEK_SET) < 0) return 0;
    uint64_t block_start = start;
    for (;;) {
        const ssize_t count = ::read(fd, block.data(), block.size());
        if (count <= 0) return 0;
        const size_t n = static_cast<size_t>(count);
        size_t at = 0;
        switch (scan_block(block.data(), n, marker, length, at)) {
        case BlockScan::found:
            return static_cast<uint32_t>(block_start + at);
        case BlockScan::cut: {
            // Read again from the candidate, so that it starts the next block.
            // A candidate that already started this block met the file's end.
            const uint64_t candidate = block_start + at;
            if (candidate + length > limit || at == 0) return 0;
            if (::lseek(fd, static_cast<off_t>(candidate), SEEK_SET) < 0) return 0;
            block_start = candidate;
            break;
        }
        case BlockScan::none:
            block_start += n;
            break;
        }
    }
}
