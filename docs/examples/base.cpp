// Byte order, checked allocation and the CRC module.
#include <zk/zk.h>

#include <cstdio>

int main() {
    // Numbers stored in files and buffers are big-endian.
    unsigned char field[4];
    zk::LPUT32(field, 0x12345678);
    std::printf("stored %02x %02x %02x %02x, read back 0x%08x\n", field[0], field[1], field[2], field[3],
                static_cast<unsigned>(zk::LGET32(field)));

    // A running checksum over a stream that arrives in pieces.
    const unsigned char digits[] = "123456789";
    zk::crc32_accum(nullptr, 0);
    zk::crc32_accum(digits, 4);
    std::printf("crc 0x%08x\n", static_cast<unsigned>(zk::crc32_accum(digits + 4, 5)));

    // Every block the library hands out goes back through chk_free.
    char* greeting = zk::chk_makestr("hello", ", ", "world", nullptr);
    std::printf("%s\n", greeting);
    zk::chk_free(greeting);
}
