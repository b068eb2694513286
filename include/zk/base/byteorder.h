// Byte-order codec: the one fixed layout for numbers stored in files and
// buffers. Big-endian throughout, except the 64-bit layout (low half first).
#pragma once

#include <cstdint>

namespace zk {

void LPUT8(unsigned char* buf, unsigned value);
void LPUT16(unsigned char* buf, unsigned value);
unsigned LGET16(const unsigned char* buf);
void LPUT24(unsigned char* buf, uint32_t value);
uint32_t LGET24(const unsigned char* buf);
void LPUT32(unsigned char* buf, uint32_t value);
uint32_t LGET32(const unsigned char* buf);
void LPUT64(unsigned char* buf, uint64_t value);
uint64_t LGET64(const unsigned char* buf);
void LPUT_FLOAT(unsigned char* buf, double value);
void LGET_FLOAT(const unsigned char* buf, double* value);
int LPUT_INTEGER(unsigned char* buf, int64_t value);
void LPUT_ID(unsigned char* buf, unsigned id);
unsigned LGET_ID(const unsigned char* buf);
void LPUT_LIST(unsigned char* buf, unsigned count);
unsigned LGET_LIST(const unsigned char* buf);
void LPUT_PTR(unsigned char* buf, uint32_t value);
uint32_t LGET_PTR(const unsigned char* buf);
uint32_t LGET_OBJECT(const unsigned char* buf);
int WGET16(int word);
uint32_t WGET32(uint32_t word);
void swap_words(uint32_t* words, int count);

}  // namespace zk
