// CRC-32 with the CRC-32/BZIP2 parameters (polynomial 0x04C11DB7, MSB first,
// no reflection, initial and final XOR 0xFFFFFFFF): the package checksum.
#pragma once

#include <cstdint>

namespace zk {

extern uint32_t crc32_table[256];
void init_crc32();
uint32_t crc32(const unsigned char* buf, int length);
uint32_t crc32_accum(const unsigned char* buf, int length);
uint32_t crc32_set(uint32_t value);
uint32_t crc32_monocase(const unsigned char* table, const unsigned char* buf, int length);

}  // namespace zk
