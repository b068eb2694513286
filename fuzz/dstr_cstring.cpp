// dstr_add_cstring on any bytes: the escape holds no control or high bytes
// and decodes back to the bytes.
// Input: a byte for the string's starting size, then the bytes.
#include "fuzz_support.h"

#include <zk/zk.h>

#include <string>

using zkfuzz::require;

namespace {

constexpr char escape_letters[] = "ntrfb";
constexpr char escaped_bytes[] = "\n\t\r\f\b";

int hex_value(char digit) {
    if (digit >= '0' && digit <= '9') return digit - '0';
    if (digit >= 'a' && digit <= 'f') return digit - 'a' + 10;
    require(false, "\\x is followed by lower-case hex digits");
    return 0;
}

// The bytes that a C-style escaped text stands for.
std::string decode(const std::string& text) {
    std::string bytes;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            bytes += text[i];
            continue;
        }
        require(i + 1 < text.size(), "a backslash is followed by an escape");
        const char kind = text[++i];
        if (kind == '"' || kind == '\\') {
            bytes += kind;
        } else if (kind == 'x') {
            require(i + 2 < text.size(), "\\x has two digits");
            bytes += static_cast<char>(hex_value(text[i + 1]) << 4 | hex_value(text[i + 2]));
            i += 2;
        } else if (kind == '0') {
            require(text.compare(i, 3, "000") == 0, "an octal escape is \\000");
            bytes += '\0';
            i += 2;
        } else {
            const std::string letters = escape_letters;
            const size_t at = letters.find(kind);
            require(at != std::string::npos, "a backslash escape is known");
            bytes += escaped_bytes[at];
        }
    }
    return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    zkfuzz::FuzzInput input(data, size);
    const int start_size = input.take_byte();
    const std::string bytes = input.take_rest();

    zk::DSTR dstr;
    zk::dstr_init(&dstr, start_size);
    zk::dstr_add_cstring(&dstr, bytes.data(), static_cast<int>(bytes.size()));
    require(dstr.dl_len <= dstr.dl_size, "the length stays within the buffer");
    const std::string escaped(reinterpret_cast<const char*>(dstr.dl_buf), static_cast<size_t>(dstr.dl_len));
    zk::dstr_free(&dstr);

    for (const char ch : escaped) {
        require(static_cast<signed char>(ch) >= 0x20, "the escape holds no control or high bytes");
    }
    require(decode(escaped) == bytes, "the escape decodes to the bytes");
    return 0;
}
