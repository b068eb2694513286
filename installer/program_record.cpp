#include "program_record.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>

#include "temp_file.h"

namespace {

bool copy_payload(package_format::PayloadReader& payload, int to) {
    std::array<unsigned char, 4096> chunk;
    while (payload.remaining() != 0) {
        const int size = static_cast<int>(std::min<uint64_t>(payload.remaining(), chunk.size()));
        if (!payload.read_whole(chunk.data(), static_cast<size_t>(size))) {
            std::printf("Failed to read %d bytes from source\n", size);
            return false;
        }
        if (::write(to, chunk.data(), static_cast<size_t>(size)) != size) {
            std::printf("Failed to write %d bytes from source\n", size);
            return false;
        }
    }
    return true;
}

}  // namespace

RecordResult file_run(package_format::PayloadReader& payload) {
    TempPath path;
    if (!make_temp_path(path)) temp_create_failed();
    const int file = create_temp_file();
    if (file < 0) temp_create_failed();
    const bool copied = copy_payload(payload, file);
    const bool closed = ::close(file) == 0;
    if (!copied || !closed) return RecordResult::failed;
    return ended_if(!run_temp_file(path.data(), "Program"));
}
