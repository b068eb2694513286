#include <zk/string/dstr.h>

#include <zk/base/byteorder.h>
#include <zk/base/chk.h>

// dstr_set_size's check guards against writing past the buffer, so it must
// stay active in release builds, which define NDEBUG.
#undef NDEBUG
#include <cassert>
#include <cstdint>
#include <cstring>
#include <limits>

namespace zk {

namespace {

constexpr int SLACK = 64;
constexpr int SMALL_SLACK = 8;
constexpr int FLOAT_SLACK = 73;

constexpr unsigned char TAG_SHORT_INT = 0x0E;
constexpr unsigned char TAG_INT32 = 0x01;
constexpr unsigned char TAG_FLOAT = 0x0A;
constexpr unsigned char TAG_NULL = 0x04;

constexpr int32_t SHORT_INT_LIMIT = 127;

// The growth rule of every appender: when `need` more bytes would reach
// dl_size, the buffer becomes exactly `new_size` bytes. Returns whether
// `need` bytes may now be written at dl_len; on a failed allocation the
// record is left as it was.
bool make_room(DSTR* dstr, int need, int64_t new_size) {
    if (int64_t{dstr->dl_len} + need >= dstr->dl_size) {
        if (new_size > std::numeric_limits<int32_t>::max()) {
            return false;
        }
        void* grown = chk_realloc(dstr->dl_buf, static_cast<size_t>(new_size));
        if (grown == nullptr) {
            return false;
        }
        dstr->dl_buf = static_cast<unsigned char*>(grown);
        dstr->dl_size = static_cast<int32_t>(new_size);
    }
    return dstr->dl_buf != nullptr;
}

// Makes room for n bytes at dl_len and counts them as used; returns where
// they go, or null when the buffer could not grow.
unsigned char* extend(DSTR* dstr, int n, int64_t new_size) {
    if (n < 0 || !make_room(dstr, n, new_size)) {
        return nullptr;
    }
    unsigned char* at = dstr->dl_buf + dstr->dl_len;
    dstr->dl_len += n;
    return at;
}

// The fixed-width appenders grow by a slack beyond the old size.
unsigned char* extend_by_slack(DSTR* dstr, int n, int slack) { return extend(dstr, n, int64_t{dstr->dl_size} + slack); }

// The counted appenders grow by the request plus the usual slack.
unsigned char* extend_by_request(DSTR* dstr, int n) { return extend(dstr, n, int64_t{dstr->dl_size} + n + SLACK); }

// Appends one untagged field of `width` bytes laid out by the codec's `put`.
template <typename Value>
void put_field(DSTR* dstr, int width, int slack, void (*put)(unsigned char*, Value), Value value) {
    if (unsigned char* at = extend_by_slack(dstr, width, slack)) {
        put(at, value);
    }
}

// Escape letters of the control bytes that have one, in matching order.
constexpr char NAMED_CONTROLS[] = "\n\t\r\f\b";
constexpr char CONTROL_LETTERS[] = "ntrfb";

void add_escaped_byte(DSTR* dstr, char byte) {
    if (byte == '"' || byte == '\\') {
        dstr_add_char(dstr, '\\');
        dstr_add_char(dstr, byte);
        return;
    }
    if (byte == '\0') {
        dstr_add_mem(dstr, "\\000", 4);
        return;
    }
    if (const char* named = std::strchr(NAMED_CONTROLS, byte)) {
        dstr_add_char(dstr, '\\');
        dstr_add_char(dstr, CONTROL_LETTERS[named - NAMED_CONTROLS]);
        return;
    }
    // Compared as a signed byte, so 0x80 to 0xFF fall below 0x20 as well.
    if (static_cast<signed char>(byte) < 0x20) {
        constexpr char HEX_DIGITS[] = "0123456789abcdef";
        const auto value = static_cast<unsigned char>(byte);
        const char escape[4] = {'\\', 'x', HEX_DIGITS[value >> 4], HEX_DIGITS[value & 0xF]};
        dstr_add_mem(dstr, escape, 4);
        return;
    }
    dstr_add_char(dstr, byte);
}

}  // namespace

unsigned char* dstr_init(DSTR* dstr, int size) {
    // A failed allocation leaves an empty record that the next append grows.
    dstr->dl_buf = static_cast<unsigned char*>(chk_alloc(static_cast<size_t>(size)));
    dstr->dl_size = dstr->dl_buf != nullptr ? size : 0;
    dstr->dl_len = 0;
    return dstr->dl_buf;
}

unsigned char* dstr_zinit(DSTR* dstr, int size) {
    dstr->dl_buf = static_cast<unsigned char*>(chk_zalloc(static_cast<size_t>(size)));
    dstr->dl_size = dstr->dl_buf != nullptr ? size : 0;
    dstr->dl_len = 0;
    return dstr->dl_buf;
}

void dstr_setup(DSTR* dstr, void* buffer, int size) {
    dstr->dl_buf = static_cast<unsigned char*>(buffer);
    dstr->dl_size = size;
    dstr->dl_len = size;
}

void dstr_clear(DSTR* dstr) { dstr->dl_len = 0; }

void dstr_free(DSTR* dstr) {
    chk_free_ptr(&dstr->dl_buf);
    dstr->dl_len = 0;
}

void dstr_remove(DSTR* dstr, int n) {
    if (n <= 0) {
        return;
    }
    if (dstr->dl_len > n) {
        std::memmove(dstr->dl_buf, dstr->dl_buf + n, static_cast<size_t>(dstr->dl_len - n));
        dstr->dl_len -= n;
    } else {
        dstr->dl_len = 0;
    }
}

void dstr_reserve(DSTR* dstr, int n) { extend_by_request(dstr, n); }

void dstr_reserve_zero(DSTR* dstr, int n) {
    if (unsigned char* added = extend_by_request(dstr, n)) {
        std::memset(added, 0, static_cast<size_t>(n));
    }
}

void dstr_resize(DSTR* dstr, int size) {
    if (dstr->dl_size >= size) {
        return;
    }
    if (dstr->dl_buf == nullptr) {
        auto* block = static_cast<unsigned char*>(chk_zalloc(static_cast<size_t>(size)));
        if (block == nullptr) {
            return;
        }
        dstr->dl_buf = block;
    } else {
        auto* block = static_cast<unsigned char*>(chk_realloc(dstr->dl_buf, static_cast<size_t>(size)));
        if (block == nullptr) {
            return;
        }
        const int old_size = dstr->dl_size > 0 ? dstr->dl_size : 0;
        std::memset(block + old_size, 0, static_cast<size_t>(size - old_size));
        dstr->dl_buf = block;
    }
    dstr->dl_size = size;
}

void dstr_size(DSTR* dstr, int size) {
    if (dstr->dl_size >= size) {
        return;
    }
    dstr_resize(dstr, size);
    if (dstr->dl_size == size) {
        dstr->dl_len = size;
    }
}

void dstr_set_size(DSTR* dstr, int size) {
    assert(size <= dstr->dl_size);
    dstr->dl_len = size;
}

void dstr_set_space(DSTR* dstr, int space) {
    if (space == dstr->dl_size) {
        return;
    }
    // realloc to 0 bytes may free the block and return null, which would
    // read as a failure while the old pointer is already gone.
    if (space == 0) {
        chk_free_ptr(&dstr->dl_buf);
    } else {
        void* block = chk_realloc(dstr->dl_buf, static_cast<size_t>(space));
        if (block == nullptr) {
            return;
        }
        dstr->dl_buf = static_cast<unsigned char*>(block);
    }
    dstr->dl_size = space;
    dstr->dl_len = 0;
}

int dstr_add_char(DSTR* dstr, int ch) {
    if (unsigned char* at = extend_by_slack(dstr, 1, SLACK)) {
        *at = static_cast<unsigned char>(ch);
    }
    return ch;
}

void dstr_add_nchar(DSTR* dstr, int ch, int n) {
    if (n <= 0) {
        return;
    }
    if (unsigned char* at = extend_by_request(dstr, n)) {
        std::memset(at, ch, static_cast<size_t>(n));
    }
}

// The bulk appender that builds vectors also grows by a tenth of its size.
void dstr_add_mem(DSTR* dstr, const void* bytes, int n) {
    const int64_t new_size = int64_t{dstr->dl_size} + n + dstr->dl_size / 10 + SLACK;
    if (unsigned char* at = extend(dstr, n, new_size); at != nullptr && n > 0) {
        std::memcpy(at, bytes, static_cast<size_t>(n));
    }
}

void dstr_add_string(DSTR* dstr, const char* bytes, int n) {
    if (unsigned char* at = extend_by_request(dstr, n); at != nullptr && n > 0) {
        std::memcpy(at, bytes, static_cast<size_t>(n));
    }
}

void dstr_terminate(DSTR* dstr) {
    if (unsigned char* at = extend_by_slack(dstr, 1, SMALL_SLACK)) {
        *at = 0;
    }
}

void dstr_add_cstring(DSTR* dstr, const char* bytes, int n) {
    for (int i = 0; i < n; ++i) {
        add_escaped_byte(dstr, bytes[i]);
    }
}

void dstr_add_id(DSTR* dstr, int id) { put_field(dstr, 2, SLACK, LPUT_ID, static_cast<unsigned>(id)); }

void dstr_add_int16(DSTR* dstr, int value) { put_field(dstr, 2, SLACK, LPUT16, static_cast<unsigned>(value)); }

void dstr_add_int24(DSTR* dstr, int32_t value) { put_field(dstr, 3, SLACK, LPUT24, static_cast<uint32_t>(value)); }

void dstr_add_int32(DSTR* dstr, int32_t value) { put_field(dstr, 4, SLACK, LPUT32, static_cast<uint32_t>(value)); }

void dstr_add_int64(DSTR* dstr, int64_t value) {
    put_field(dstr, 8, SMALL_SLACK, LPUT64, static_cast<uint64_t>(value));
}

// Returns the bytes appended: 2 or 5, or 0 when the buffer could not grow.
int dstr_add_int(DSTR* dstr, int32_t value) {
    const bool is_short = value >= -SHORT_INT_LIMIT && value <= SHORT_INT_LIMIT;
    const int need = is_short ? 2 : 5;
    unsigned char* at = extend_by_slack(dstr, need, need + SLACK);
    if (at == nullptr) {
        return 0;
    }
    if (is_short) {
        at[0] = TAG_SHORT_INT;
        LPUT8(at + 1, static_cast<unsigned>(value));
    } else {
        at[0] = TAG_INT32;
        LPUT32(at + 1, static_cast<uint32_t>(value));
    }
    return need;
}

void dstr_add_integer(DSTR* dstr, int64_t value) {
    if (value >= 0 && value <= std::numeric_limits<int32_t>::max()) {
        dstr_add_int(dstr, static_cast<int32_t>(value));
        return;
    }
    // Outside 0..2^31-1 the codec writes the 9-byte form with its own tag.
    if (unsigned char* at = extend_by_slack(dstr, 9, 9)) {
        LPUT_INTEGER(at, value);
    }
}

void dstr_add_float(DSTR* dstr, double value) {
    if (unsigned char* at = extend_by_slack(dstr, 9, FLOAT_SLACK)) {
        at[0] = TAG_FLOAT;
        LPUT_FLOAT(at + 1, value);
    }
}

void dstr_add_null(DSTR* dstr) {
    // The need is two bytes though only the tag is written.
    if (!make_room(dstr, 2, int64_t{dstr->dl_size} + SMALL_SLACK)) {
        return;
    }
    dstr->dl_buf[dstr->dl_len] = TAG_NULL;
    dstr->dl_len += 1;
}

void dstr_add_ptr(DSTR* dstr, int type_byte, uint32_t value) {
    if (unsigned char* at = extend_by_slack(dstr, 5, SLACK)) {
        LPUT8(at, static_cast<unsigned>(type_byte));
        LPUT32(at + 1, value);
    }
}

}  // namespace zk
