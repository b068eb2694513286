// Dynamic strings: the library's one growable buffer, used as a text
// builder, a vector of fixed-size elements and a tagged value stream.
#pragma once

#include <cstdint>

namespace zk {

struct DSTR {
    unsigned char* dl_buf;
    int32_t dl_size;
    int32_t dl_len;
};

unsigned char* dstr_init(DSTR* dstr, int size);
unsigned char* dstr_zinit(DSTR* dstr, int size);
void dstr_setup(DSTR* dstr, void* buffer, int size);
void dstr_clear(DSTR* dstr);
void dstr_free(DSTR* dstr);
void dstr_remove(DSTR* dstr, int n);
void dstr_reserve(DSTR* dstr, int n);
void dstr_reserve_zero(DSTR* dstr, int n);
void dstr_resize(DSTR* dstr, int size);
void dstr_size(DSTR* dstr, int size);
void dstr_set_size(DSTR* dstr, int size);
void dstr_set_space(DSTR* dstr, int space);
int dstr_add_char(DSTR* dstr, int ch);
void dstr_add_nchar(DSTR* dstr, int ch, int n);
void dstr_add_mem(DSTR* dstr, const void* bytes, int n);
void dstr_add_string(DSTR* dstr, const char* bytes, int n);
void dstr_terminate(DSTR* dstr);
void dstr_add_cstring(DSTR* dstr, const char* bytes, int n);
void dstr_add_id(DSTR* dstr, int id);
void dstr_add_int16(DSTR* dstr, int value);
void dstr_add_int24(DSTR* dstr, int32_t value);
void dstr_add_int32(DSTR* dstr, int32_t value);
void dstr_add_int64(DSTR* dstr, int64_t value);
int dstr_add_int(DSTR* dstr, int32_t value);
void dstr_add_integer(DSTR* dstr, int64_t value);
void dstr_add_float(DSTR* dstr, double value);
void dstr_add_null(DSTR* dstr);
void dstr_add_ptr(DSTR* dstr, int type_byte, uint32_t value);

}  // namespace zk
