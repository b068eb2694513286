#include "archive_header.h"

#include <cctype>
#include <cstring>

namespace archive_header {

namespace {

bool is_octal_digit(unsigned char ch) { return ch >= '0' && ch <= '7'; }

}  // namespace

bool parse_octal(const Block& block, Field field, uint64_t& value) {
    const unsigned char* at = block.data() + field.offset;
    const unsigned char* end = at + field.size;
    while (at < end && std::isspace(*at)) ++at;
    if (at == end || !is_octal_digit(*at)) return false;
    value = 0;
    for (; at < end && is_octal_digit(*at); ++at) value = value * 8 + (*at - '0');
    return true;
}

void entry_name(const Block& block, EntryName& name) {
    const auto* field = reinterpret_cast<const char*>(block.data());
    const size_t name_length = ::strnlen(field + NAME.offset, NAME.size);
    const size_t prefix_length = ::strnlen(field + PREFIX.offset, PREFIX.size);
    const bool posix = std::memcmp(field + MAGIC.offset, POSIX_MAGIC, MAGIC.size) == 0;
    size_t at = 0;
    if (posix && prefix_length != 0 && name_length != 0) {
        std::memcpy(name.data(), field + PREFIX.offset, prefix_length);
        at = prefix_length;
        name[at++] = '/';
    }
    std::memcpy(name.data() + at, field + NAME.offset, name_length);
    name[at + name_length] = '\0';
}

bool is_metadata(unsigned char type) { return type == 'x' || type == 'g' || type == 'L' || type == 'K'; }

bool leaves_directory(const char* name) {
    if (name[0] == '/') return true;
    for (const char* component = name; component != nullptr;) {
        const char* slash = std::strchr(component, '/');
        const size_t length = slash != nullptr ? static_cast<size_t>(slash - component) : std::strlen(component);
        if (length == 2 && component[0] == '.' && component[1] == '.') return true;
        component = slash != nullptr ? slash + 1 : nullptr;
    }
    return false;
}

}  // namespace archive_header
