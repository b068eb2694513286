// Checked allocation: every heap block the library hands out comes from here
// and goes back through chk_free.
#pragma once

#include <cstddef>

namespace zk {

void chk_init();
void* check_alloc(size_t size);
void* chk_alloc(size_t size);
void* chk_calloc(size_t count, size_t size);
void* chk_zalloc(size_t size);
// Concatenates its arguments up to a null pointer into a new string.
char* chk_makestr(const char* first, ...);
void* chk_realloc(void* block, size_t size);
void chk_free(void* block);
void chk_free_ptr(void* address_of_pointer);
void chk_exit();
void chk_free_safe(void* block);
char* chk_strdup(const char* text);
char* chk_strndup(const char* source, size_t count);
void chk_error();
void chk_dump();

}  // namespace zk
