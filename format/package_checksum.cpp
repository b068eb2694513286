#include "package_checksum.h"

#include <algorithm>
#include <array>

#include "base/crc_internal.h"
#include "package_format.h"

namespace package_format {

Checksum::Checksum(uint64_t marker_offset) : field_(marker_offset + HEADER_CHECKSUM) {}

void Checksum::add(const unsigned char* bytes, size_t length) {
    static constexpr std::array<unsigned char, CHECKSUM_SIZE> zeros{};
    const uint64_t field_end = field_ + CHECKSUM_SIZE;
    while (length > 0) {
        const bool in_field = added_ >= field_ && added_ < field_end;
        const uint64_t edge = added_ < field_ ? field_ : in_field ? field_end : UINT64_MAX;
        const size_t piece = static_cast<size_t>(std::min<uint64_t>(length, edge - added_));
        register_ = zk::crc32_update(register_, in_field ? zeros.data() : bytes, piece);
        bytes += piece;
        length -= piece;
        added_ += piece;
    }
}

}  // namespace package_format
