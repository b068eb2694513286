#include <zk/base/byteorder.h>

#include <cstring>

namespace zk {

namespace {

constexpr unsigned ID_TAG = 5;
constexpr unsigned LIST_TAG = 3;
constexpr unsigned char INTEGER_TAG_32 = 0x01;
constexpr unsigned char INTEGER_TAG_64 = 0x10;

}  // namespace

void LPUT8(unsigned char* buf, unsigned value) { buf[0] = static_cast<unsigned char>(value); }

void LPUT16(unsigned char* buf, unsigned value) {
    buf[0] = static_cast<unsigned char>(value >> 8);
    buf[1] = static_cast<unsigned char>(value);
}

unsigned LGET16(const unsigned char* buf) { return (unsigned{buf[0]} << 8) | buf[1]; }

void LPUT24(unsigned char* buf, uint32_t value) {
    buf[0] = static_cast<unsigned char>(value >> 16);
    buf[1] = static_cast<unsigned char>(value >> 8);
    buf[2] = static_cast<unsigned char>(value);
}

uint32_t LGET24(const unsigned char* buf) { return (uint32_t{buf[0]} << 16) | (uint32_t{buf[1]} << 8) | buf[2]; }

void LPUT32(unsigned char* buf, uint32_t value) {
    buf[0] = static_cast<unsigned char>(value >> 24);
    buf[1] = static_cast<unsigned char>(value >> 16);
    buf[2] = static_cast<unsigned char>(value >> 8);
    buf[3] = static_cast<unsigned char>(value);
}

uint32_t LGET32(const unsigned char* buf) {
    return (uint32_t{buf[0]} << 24) | (uint32_t{buf[1]} << 16) | (uint32_t{buf[2]} << 8) | buf[3];
}

// The low half comes first: that is the stored layout, not an accident.
void LPUT64(unsigned char* buf, uint64_t value) {
    LPUT32(buf, static_cast<uint32_t>(value));
    LPUT32(buf + 4, static_cast<uint32_t>(value >> 32));
}

uint64_t LGET64(const unsigned char* buf) { return uint64_t{LGET32(buf)} | (uint64_t{LGET32(buf + 4)} << 32); }

void LPUT_FLOAT(unsigned char* buf, double value) { std::memcpy(buf, &value, sizeof value); }

void LGET_FLOAT(const unsigned char* buf, double* value) { std::memcpy(value, buf, sizeof *value); }

int LPUT_INTEGER(unsigned char* buf, int64_t value) {
    const auto bits = static_cast<uint64_t>(value);
    if ((bits >> 31) != 0) {
        buf[0] = INTEGER_TAG_64;
        LPUT64(buf + 1, bits);
        return 9;
    }
    buf[0] = INTEGER_TAG_32;
    LPUT32(buf + 1, static_cast<uint32_t>(bits));
    return 5;
}

void LPUT_ID(unsigned char* buf, unsigned id) {
    buf[0] = static_cast<unsigned char>(((id >> 8) & 0x3) << 6 | ID_TAG);
    buf[1] = static_cast<unsigned char>(id);
}

unsigned LGET_ID(const unsigned char* buf) { return (unsigned{buf[0]} >> 6) << 8 | buf[1]; }

void LPUT_LIST(unsigned char* buf, unsigned count) {
    buf[0] = LIST_TAG;
    LPUT16(buf + 1, count);
}

unsigned LGET_LIST(const unsigned char* buf) { return LGET16(buf + 1); }

void LPUT_PTR(unsigned char* buf, uint32_t value) { LPUT32(buf, value); }

uint32_t LGET_PTR(const unsigned char* buf) { return LGET32(buf); }

uint32_t LGET_OBJECT(const unsigned char* buf) { return LGET32(buf); }

int WGET16(int word) {
    const uint16_t probe = 1;
    unsigned char first_byte;
    std::memcpy(&first_byte, &probe, 1);
    if (first_byte == 1) {
        return ((word & 0xFF) << 8) | ((word >> 8) & 0xFF);
    }
    return static_cast<int16_t>(word);
}

uint32_t WGET32(uint32_t word) {
    unsigned char image[4];
    std::memcpy(image, &word, sizeof image);
    return LGET32(image);
}

void swap_words(uint32_t* words, int count) {
    for (int i = 0; i < count; ++i) {
        words[i] = WGET32(words[i]);
    }
}

}  // namespace zk
