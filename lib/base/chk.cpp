#include <zk/base/chk.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace zk {

namespace {

// The size is printed whole: cut to 32 bits it would name a size nobody asked for.
void report(const char* verb, size_t size) {
    std::printf("CHK_ALLOC: Failed to %s memory. Wanted 0x%zx bytes\n", verb, size);
}

}  // namespace

void chk_init() {}
void chk_exit() {}
void chk_error() {}
void chk_dump() {}

void* check_alloc(size_t size) { return std::malloc(size); }

void* chk_alloc(size_t size) {
    void* block = std::malloc(size);
    if (block == nullptr) {
        report("allocate", size);
    }
    return block;
}

void* chk_calloc(size_t count, size_t size) { return std::calloc(count, size); }

void* chk_zalloc(size_t size) {
    void* block = std::calloc(1, size);
    if (block == nullptr) {
        report("zallocate", size);
    }
    return block;
}

char* chk_makestr(const char* first, ...) {
    size_t total = 0;
    va_list args;
    va_start(args, first);
    for (const char* piece = first; piece != nullptr; piece = va_arg(args, const char*)) {
        total += std::strlen(piece);
    }
    va_end(args);

    auto* result = static_cast<char*>(check_alloc(total + 1));
    if (result == nullptr) {
        return nullptr;
    }
    char* end = result;
    va_start(args, first);
    for (const char* piece = first; piece != nullptr; piece = va_arg(args, const char*)) {
        const size_t length = std::strlen(piece);
        std::memcpy(end, piece, length);
        end += length;
    }
    va_end(args);
    *end = '\0';
    return result;
}

void* chk_realloc(void* block, size_t size) {
    // realloc to 0 bytes may free the block and return null, which would read
    // as a failure that left the block valid; keep a block of at least 1 byte.
    void* resized = std::realloc(block, size == 0 ? 1 : size);
    if (resized == nullptr) {
        report("reallocate", size);
    }
    return resized;
}

void chk_free(void* block) { std::free(block); }

// The variable may be any object pointer type, so it is read and written as bytes.
void chk_free_ptr(void* address_of_pointer) {
    void* block = nullptr;
    std::memcpy(&block, address_of_pointer, sizeof block);
    if (block != nullptr) {
        std::free(block);
        void* const null_block = nullptr;
        std::memcpy(address_of_pointer, &null_block, sizeof null_block);
    }
}

void chk_free_safe(void* block) {
    if (block != nullptr) {
        std::free(block);
    }
}

char* chk_strdup(const char* text) { return ::strdup(text); }

char* chk_strndup(const char* source, size_t count) {
    auto* copy = static_cast<char*>(check_alloc(count));
    if (copy != nullptr) {
        std::memcpy(copy, source, count);
    }
    return copy;
}

}  // namespace zk
