#include "program_record.h"

#include <unistd.h>

#include <zk/base/byteorder.h>

#include <algorithm>
#include <array>
#include <cstdio>

#include "temp_file.h"

namespace {

int copy_payload(int from, int to, uint32_t length) {
    std::array<unsigned char, 4096> chunk;
    while (length != 0) {
        const int size = static_cast<int>(std::min<uint32_t>(length, chunk.size()));
        if (::read(from, chunk.data(), size) != size) {
            std::printf("Failed to read %d bytes from source\n", size);
            return COPY_READ_FAILED;
        }
        if (::write(to, chunk.data(), size) != size) {
            std::printf("Failed to write %d bytes from source\n", size);
            return COPY_WRITE_FAILED;
        }
        length -= static_cast<uint32_t>(size);
    }
    return 0;
}

}  // namespace

int file_run(int fd, const unsigned char* prefix) {
    TempPath path;
    if (!make_temp_path(path)) temp_create_failed();
    const int file = create_temp_file();
    if (file < 0) temp_create_failed();
    const int result = copy_payload(fd, file, zk::LGET32(prefix));
    ::close(file);
    return result == 0 ? run_temp_file(path.data()) : result;
}
