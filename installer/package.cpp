#include "package.h"

#include <unistd.h>

#include <algorithm>

using namespace package_format;

void assemble_marker(std::array<char, MARKER_BUFFER_SIZE>& marker) {
    const Marker& pieces = package_marker();
    std::copy(pieces.begin(), pieces.end(), marker.begin());
    marker[MARKER_SIZE] = '\0';
}

uint32_t find_marker(int fd, uint32_t start, uint32_t limit) {
    if (::lseek(fd, start, SEEK_SET) < 0) return 0;
    MarkerSearch search;
    std::array<unsigned char, READ_BLOCK_SIZE> block;
    for (;;) {
        const ssize_t count = ::read(fd, block.data(), block.size());
        if (count <= 0) return 0;
        if (search.feed(block.data(), static_cast<size_t>(count))) {
            const uint64_t at = uint64_t{start} + search.offset();
            return at + MARKER_SIZE <= limit ? static_cast<uint32_t>(at) : 0;
        }
    }
}
