#include <zk/zk.h>

#include <cstdio>

int main() {
    const unsigned char digits[] = "123456789";
    const unsigned char word[] = {0x12, 0x34, 0x56, 0x78};
    std::printf("%08x %08x\n", zk::crc32(digits, 9), zk::LGET32(word));
    return 0;
}
