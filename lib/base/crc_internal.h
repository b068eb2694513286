// The CRC register step that the library's own functions share, for callers
// that keep their own register (the package checksum) instead of
// crc32_accum's single one for the whole process; not installed.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zk {

// The definition: one table lookup per byte. The register is neither
// complemented in nor out.
uint32_t crc32_byte_step(uint32_t reg, unsigned char byte);

// The byte step over a buffer, eight bytes at a time where it can. Needs no
// init_crc32.
uint32_t crc32_update(uint32_t reg, const unsigned char* buf, size_t length);

}  // namespace zk
