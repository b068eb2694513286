// What the key and signature files share: their lines, their base64 and
// the crypto library's start.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace signing {

constexpr std::string_view COMMENT_PREFIX = "untrusted comment: ";
constexpr std::string_view TRUSTED_COMMENT_PREFIX = "trusted comment: ";

// Takes the next line off text and returns it without its line end (a line
// feed, or a carriage return and a line feed).
std::string_view take_line(std::string_view& text);

// Whether only line ends are left.
bool only_line_ends(std::string_view text);

// Decodes base64 that must come to exactly size bytes.
bool decode_base64(std::string_view text, unsigned char* bytes, size_t size);
std::string encode_base64(const unsigned char* bytes, size_t size);

// Initialises libsodium once; false when it cannot run on this machine.
bool crypto_ready();

}  // namespace signing
