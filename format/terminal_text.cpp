#include "terminal_text.h"

#include <cstddef>
#include <cstdio>

namespace terminal_text {

namespace {

// The lead bytes of valid UTF-8 and the range their second byte must fall
// in, which rules out overlong forms, surrogates and values past U+10FFFF;
// any further byte is 0x80 to 0xBF.
struct Lead {
    unsigned char first, last;
    size_t length;
    unsigned char second_min, second_max;
};

constexpr Lead LEADS[] = {
    {0xC2, 0xDF, 2, 0x80, 0xBF}, {0xE0, 0xE0, 3, 0xA0, 0xBF}, {0xE1, 0xEC, 3, 0x80, 0xBF}, {0xED, 0xED, 3, 0x80, 0x9F},
    {0xEE, 0xEF, 3, 0x80, 0xBF}, {0xF0, 0xF0, 4, 0x90, 0xBF}, {0xF1, 0xF3, 4, 0x80, 0xBF}, {0xF4, 0xF4, 4, 0x80, 0x8F},
};

unsigned char byte_at(std::string_view text, size_t at) { return static_cast<unsigned char>(text[at]); }

// The length of the valid multi-byte character at `at`, or 0 (ASCII too).
size_t sequence_length(std::string_view text, size_t at) {
    const unsigned char lead = byte_at(text, at);
    for (const Lead& form : LEADS) {
        if (lead < form.first || lead > form.last) continue;
        if (text.size() - at < form.length) return 0;
        const unsigned char second = byte_at(text, at + 1);
        if (second < form.second_min || second > form.second_max) return 0;
        for (size_t i = 2; i < form.length; ++i) {
            if (byte_at(text, at + i) < 0x80 || byte_at(text, at + i) > 0xBF) return 0;
        }
        return form.length;
    }
    return 0;
}

void add_octal(std::string& shown, unsigned char byte) {
    char escaped[5];
    std::snprintf(escaped, sizeof escaped, "\\%03o", byte);
    shown += escaped;
}

// A byte that is not part of a multi-byte character.
void add_byte(std::string& shown, unsigned char byte, Tabs tabs) {
    const bool control = byte == '\t' ? tabs == Tabs::escaped : byte < 0x20 || (byte >= 0x7F && byte <= 0x9F);
    if (byte == '\\') {
        shown += "\\\\";
    } else if (control) {
        add_octal(shown, byte);
    } else {
        shown += static_cast<char>(byte);
    }
}

// U+0080 to U+009F are the C1 controls, in UTF-8 as C2 80 to C2 9F.
void add_character(std::string& shown, std::string_view character) {
    if (byte_at(character, 0) == 0xC2 && byte_at(character, 1) <= 0x9F) {
        for (const char byte : character) add_octal(shown, static_cast<unsigned char>(byte));
    } else {
        shown += character;
    }
}

}  // namespace

std::string printable(std::string_view text, Tabs tabs) {
    std::string shown;
    shown.reserve(text.size());
    for (size_t at = 0; at < text.size();) {
        const size_t length = sequence_length(text, at);
        if (length == 0) {
            add_byte(shown, byte_at(text, at), tabs);
            ++at;
        } else {
            add_character(shown, text.substr(at, length));
            at += length;
        }
    }
    return shown;
}

}  // namespace terminal_text
