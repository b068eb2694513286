#include "tar_format.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "terminal_text.h"

namespace tar_format {

namespace {

bool is_octal_digit(unsigned char ch) { return ch >= '0' && ch <= '7'; }
bool is_blank(unsigned char ch) { return ch == ' ' || ch == '\t'; }

std::string_view field_text(const Block& block, Field field) {
    const char* start = reinterpret_cast<const char*>(block.data() + field.offset);
    return std::string_view(start, ::strnlen(start, field.size));
}

std::optional<uint64_t> parse_base256(const unsigned char* bytes, size_t size) {
    // 0xff starts a negative number; more than 63 bits do not fit.
    if (bytes[0] == 0xff) return std::nullopt;
    uint64_t value = bytes[0] & 0x7f;
    for (size_t i = 1; i < size; ++i) {
        if (value >> 55 != 0) return std::nullopt;
        value = value << 8 | bytes[i];
    }
    return value;
}

struct TypeDescription {
    unsigned char type;
    const char* description;
};

constexpr TypeDescription TYPE_DESCRIPTIONS[] = {
    {'3', "a character device"}, {'4', "a block device"}, {'6', "a FIFO"},
    {'S', "a sparse file"},      {'M', "a multi-volume continuation"},
};

// Calls use with each component between slashes, empty ones included.
template <typename Use>
void for_each_component(std::string_view name, Use use) {
    for (size_t start = 0; start <= name.size();) {
        size_t end = name.find('/', start);
        if (end == std::string_view::npos) end = name.size();
        use(name.substr(start, end - start));
        start = end + 1;
    }
}

bool holds_nul(std::string_view text) { return text.find('\0') != std::string_view::npos; }

// A NUL byte would end the name for the system, so "..\0x/f" would be made
// as "../f".
Rule name_rule(std::string_view name) {
    if (name.size() > MAX_NAME_LENGTH) return Rule::name_too_long;
    if (name.empty()) return Rule::empty_name;
    if (name.front() == '/') return Rule::absolute_name;
    if (holds_nul(name)) return Rule::nul_in_name;
    if (longest_component(name) > MAX_COMPONENT_LENGTH) return Rule::component_too_long;
    bool climbs = false;
    for_each_component(name, [&](std::string_view component) { climbs |= component == ".."; });
    return climbs ? Rule::dot_dot_component : Rule::none;
}

Rule link_target_rule(std::string_view target) {
    if (target.empty()) return Rule::empty_link_target;
    if (holds_nul(target)) return Rule::nul_in_link_target;
    return target.size() > MAX_NAME_LENGTH ? Rule::link_target_too_long : Rule::none;
}

}  // namespace

std::optional<uint64_t> parse_number(const Block& block, Field field) {
    const unsigned char* at = block.data() + field.offset;
    const unsigned char* end = at + field.size;
    if (*at & 0x80) return parse_base256(at, field.size);
    // As tar reads them: NULs and blanks before the digits are passed over,
    // and a field of nothing else is 0.
    while (at < end && (is_blank(*at) || *at == '\0')) ++at;
    if (at == end) return 0;
    if (!is_octal_digit(*at)) return std::nullopt;
    uint64_t value = 0;
    for (; at < end && is_octal_digit(*at); ++at) {
        if (value >> 60 != 0) return std::nullopt;
        value = value * 8 + (*at - '0');
    }
    for (; at < end; ++at) {
        if (*at != '\0' && !is_blank(*at)) return std::nullopt;
    }
    return value;
}

bool checksum_holds(const Block& block) {
    const std::optional<uint64_t> stored = parse_number(block, CHECKSUM);
    if (!stored) return false;
    int64_t unsigned_sum = 0;
    int64_t signed_sum = 0;
    for (size_t i = 0; i < BLOCK_SIZE; ++i) {
        const bool in_field = i >= CHECKSUM.offset && i < CHECKSUM.offset + CHECKSUM.size;
        const unsigned char byte = in_field ? ' ' : block[i];
        unsigned_sum += byte;
        signed_sum += static_cast<signed char>(byte);
    }
    const auto sum = static_cast<int64_t>(*stored);
    return sum == unsigned_sum || sum == signed_sum;
}

bool ends_archive(const Block& block) {
    return std::all_of(block.begin(), block.end(), [](unsigned char byte) { return byte == 0; });
}

std::string header_name(const Block& block) {
    const std::string_view name = field_text(block, NAME);
    const std::string_view prefix = field_text(block, PREFIX);
    const bool posix = std::memcmp(block.data() + MAGIC.offset, POSIX_MAGIC, MAGIC.size) == 0;
    if (!posix || prefix.empty() || name.empty()) return std::string(name);
    std::string joined(prefix);
    joined += '/';
    joined += name;
    return joined;
}

std::string header_link_name(const Block& block) { return std::string(field_text(block, LINK_NAME)); }

EntryKind entry_kind(unsigned char type, std::string_view name) {
    switch (type) {
        case '0':
        case '\0':
        case '7': return !name.empty() && name.back() == '/' ? EntryKind::directory : EntryKind::regular;
        case '5':
        case 'D': return EntryKind::directory;
        case '2': return EntryKind::symbolic_link;
        case '1': return EntryKind::hard_link;
        case 'L': return EntryKind::long_name;
        case 'K': return EntryKind::long_link;
        case 'x': return EntryKind::extended;
        case 'g': return EntryKind::global_extended;
        case 'A':
        case 'X':
        case 'V': return EntryKind::other_metadata;
        default: return EntryKind::unsupported;
    }
}

bool carries_data(EntryKind kind, unsigned char type) {
    switch (kind) {
        case EntryKind::directory: return type == 'D';  // the list of names it held, not used
        case EntryKind::symbolic_link:
        case EntryKind::hard_link: return false;
        case EntryKind::unsupported: return type != '3' && type != '4' && type != '6';
        default: return true;
    }
}

std::string type_description(unsigned char type) {
    for (const auto& known : TYPE_DESCRIPTIONS) {
        if (known.type == type) return known.description;
    }
    char text[48];
    std::snprintf(text, sizeof text, "an entry of type %s",
                  terminal_text::printable(std::string(1, static_cast<char>(type))).c_str());
    return text;
}

size_t longest_component(std::string_view name) {
    size_t longest = 0;
    for_each_component(name, [&](std::string_view component) { longest = std::max(longest, component.size()); });
    return longest;
}

Decision decide(EntryKind kind, std::string_view name, std::string_view link_name) {
    if (const Rule rule = name_rule(name); rule != Rule::none) return {rule, Subject::name};
    if (kind == EntryKind::hard_link) {
        if (const Rule rule = name_rule(link_name); rule != Rule::none) return {rule, Subject::link_target};
    }
    if (kind == EntryKind::symbolic_link) {
        if (const Rule rule = link_target_rule(link_name); rule != Rule::none) return {rule, Subject::link_target};
    }
    switch (kind) {
        case EntryKind::regular:
        case EntryKind::directory:
        case EntryKind::symbolic_link:
        case EntryKind::hard_link: return {Rule::none, Subject::name};
        default: return {Rule::unsupported_type, Subject::name};
    }
}

std::string normal_name(std::string_view name) {
    std::string normal;
    for_each_component(name, [&](std::string_view component) {
        if (component.empty() || component == ".") return;
        if (!normal.empty()) normal += '/';
        normal += component;
    });
    return normal;
}

}  // namespace tar_format
