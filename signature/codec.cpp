#include "codec.h"

#include <sodium.h>

namespace signing {

std::string_view take_line(std::string_view& text) {
    const size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    return line;
}

bool only_line_ends(std::string_view text) { return text.find_first_not_of("\r\n") == std::string_view::npos; }

bool decode_base64(std::string_view text, unsigned char* bytes, size_t size) {
    size_t decoded = 0;
    const char* end = nullptr;
    return sodium_base642bin(bytes, size, text.data(), text.size(), nullptr, &decoded, &end,
                             sodium_base64_VARIANT_ORIGINAL) == 0 &&
           end == text.data() + text.size() && decoded == size;
}

std::string encode_base64(const unsigned char* bytes, size_t size) {
    std::string text(sodium_base64_ENCODED_LEN(size, sodium_base64_VARIANT_ORIGINAL), '\0');
    sodium_bin2base64(text.data(), text.size(), bytes, size, sodium_base64_VARIANT_ORIGINAL);
    text.pop_back();  // the terminating NUL
    return text;
}

bool crypto_ready() { return sodium_init() >= 0; }

}  // namespace signing
