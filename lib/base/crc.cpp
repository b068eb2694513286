#include <zk/base/crc.h>

#include <algorithm>
#include <array>

#include "crc_internal.h"

namespace zk {

uint32_t crc32_table[256];

namespace {

constexpr uint32_t POLYNOMIAL = 0x04C11DB7;
constexpr int SLICES = 8;

// The running register of crc32_accum: starts at 0, so every accumulation
// must begin with a reset.
uint32_t running_crc = 0;

constexpr uint32_t table_entry(uint32_t index) {
    uint32_t reg = index << 24;
    for (int bit = 0; bit < 8; ++bit) {
        reg = (reg & 0x80000000u) ? (reg << 1) ^ POLYNOMIAL : reg << 1;
    }
    return reg;
}

// slice[k][b] is the register contribution of byte b followed by k zero
// bytes, so eight bytes fold in with eight independent lookups.
using SliceTables = std::array<std::array<uint32_t, 256>, SLICES>;

constexpr SliceTables make_slices() {
    SliceTables slice{};
    for (uint32_t i = 0; i < 256; ++i) {
        slice[0][i] = table_entry(i);
    }
    for (int k = 1; k < SLICES; ++k) {
        for (uint32_t i = 0; i < 256; ++i) {
            const uint32_t prev = slice[k - 1][i];
            slice[k][i] = (prev << 8) ^ slice[0][prev >> 24];
        }
    }
    return slice;
}

constexpr SliceTables slices = make_slices();

void ensure_table() {
    if (crc32_table[1] == 0) {
        init_crc32();
    }
}

}  // namespace

uint32_t crc32_byte_step(uint32_t reg, unsigned char byte) { return (reg << 8) ^ slices[0][(reg >> 24) ^ byte]; }

uint32_t crc32_update(uint32_t reg, const unsigned char* buf, size_t length) {
    size_t pos = 0;
    for (; pos + SLICES <= length; pos += SLICES) {
        const unsigned char* b = buf + pos;
        reg ^= uint32_t{b[0]} << 24 | uint32_t{b[1]} << 16 | uint32_t{b[2]} << 8 | b[3];
        reg = slices[7][reg >> 24] ^ slices[6][(reg >> 16) & 0xFF] ^ slices[5][(reg >> 8) & 0xFF] ^
              slices[4][reg & 0xFF] ^ slices[3][b[4]] ^ slices[2][b[5]] ^ slices[1][b[6]] ^ slices[0][b[7]];
    }
    for (; pos < length; ++pos) {
        reg = crc32_byte_step(reg, buf[pos]);
    }
    return reg;
}

// The exported table is the compile-time one, copied.
void init_crc32() { std::copy(slices[0].begin(), slices[0].end(), crc32_table); }

uint32_t crc32(const unsigned char* buf, int length) {
    if (length <= 0) {
        return 0;
    }
    ensure_table();
    return ~crc32_update(0xFFFFFFFFu, buf, static_cast<size_t>(length));
}

uint32_t crc32_accum(const unsigned char* buf, int length) {
    ensure_table();
    if (buf == nullptr) {
        running_crc = 0xFFFFFFFFu;
    } else if (length > 0) {
        running_crc = crc32_update(running_crc, buf, static_cast<size_t>(length));
    }
    return ~running_crc;
}

uint32_t crc32_set(uint32_t value) {
    running_crc = value;
    return value;
}

uint32_t crc32_monocase(const unsigned char* table, const unsigned char* buf, int length) {
    if (length <= 0) {
        return 0;
    }
    ensure_table();
    uint32_t reg = 0xFFFFFFFFu;
    for (int pos = 0; pos < length; ++pos) {
        reg = crc32_byte_step(reg, table[buf[pos]]);
    }
    return ~reg;
}

}  // namespace zk
