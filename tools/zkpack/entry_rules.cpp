#include "entry_rules.h"

#include "tar_stream.h"
#include "terminal_text.h"

namespace zkpack {

namespace {

using tar_format::Decision;
using tar_format::EntryKind;

struct KindDescription {
    EntryKind kind;
    std::string_view description;
};

constexpr KindDescription KIND_DESCRIPTIONS[] = {
    {EntryKind::symbolic_link, "a symbolic link"},
    {EntryKind::hard_link, "a hard link"},
};

std::string description_of(EntryKind kind, unsigned char type) {
    for (const auto& known : KIND_DESCRIPTIONS) {
        if (known.kind == kind) return std::string(known.description);
    }
    return tar_format::type_description(type);
}

std::string too_long(const std::string& what, size_t size, size_t most) {
    return what + " takes " + std::to_string(size) + " bytes; the installer takes at most " + std::to_string(most);
}

std::string name_problem(std::string_view name) {
    if (name.size() > tar_format::MAX_NAME_LENGTH) {
        return too_long("its name", name.size(), tar_format::MAX_NAME_LENGTH);
    }
    if (name.empty()) return "an empty name";
    if (name.front() == '/') return "an absolute name; the installer writes only below its directory";
    if (name.find('\0') != std::string_view::npos) {
        return "a NUL byte in its name; the installer cannot make it as written";
    }
    const size_t longest = tar_format::longest_component(name);
    if (longest > tar_format::MAX_COMPONENT_LENGTH) {
        return too_long("a component of its name", longest, tar_format::MAX_COMPONENT_LENGTH);
    }
    return "a '..' component; the installer writes only below its directory";
}

std::string target_problem(std::string_view target) {
    if (target.empty()) return "a symbolic link with an empty target";
    if (target.find('\0') != std::string_view::npos) return "a symbolic link whose target holds a NUL byte";
    return too_long("a symbolic link whose target", target.size(), tar_format::MAX_NAME_LENGTH);
}

}  // namespace

std::string type_problem(std::string_view kind) {
    return std::string(kind) + "; the installer makes only files, directories and links";
}

std::string entry_problem(EntryKind kind, unsigned char type, std::string_view name, std::string_view link_name) {
    switch (tar_format::decide(kind, name, link_name)) {
        case Decision::make: return "";
        case Decision::unsupported: return type_problem(description_of(kind, type));
        case Decision::unsafe: break;
    }
    if (!tar_format::is_safe_name(name)) return name_problem(name);
    if (kind == EntryKind::symbolic_link) return target_problem(link_name);
    return "a hard link to " + terminal_text::printable(link_name) + ": " + name_problem(link_name);
}

}  // namespace zkpack
