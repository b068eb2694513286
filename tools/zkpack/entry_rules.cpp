#include "entry_rules.h"

#include "terminal_text.h"

namespace zkpack {

namespace {

using tar_format::EntryKind;
using tar_format::Rule;

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
    // Only pax sparse records make a file of a regular type unsupported.
    if (kind == EntryKind::unsupported && (type == '0' || type == '\0' || type == '7')) return "a sparse file";
    return tar_format::type_description(type);
}

std::string too_long(const std::string& what, size_t size, size_t most) {
    return what + " takes " + std::to_string(size) + " bytes; the installer takes at most " + std::to_string(most);
}

// The refusal for a rule that `text`, the name or link target that broke
// it, breaks; the type rule is worded from the entry's type instead.
std::string rule_problem(Rule rule, std::string_view text) {
    switch (rule) {
        case Rule::none:
        case Rule::unsupported_type: break;
        case Rule::name_too_long: return too_long("its name", text.size(), tar_format::MAX_NAME_LENGTH);
        case Rule::empty_name: return "an empty name";
        case Rule::absolute_name: return "an absolute name; the installer writes only below its directory";
        case Rule::nul_in_name: return "a NUL byte in its name; the installer cannot make it as written";
        case Rule::component_too_long:
            return too_long("a component of its name", tar_format::longest_component(text),
                            tar_format::MAX_COMPONENT_LENGTH);
        case Rule::dot_dot_component: return "a '..' component; the installer writes only below its directory";
        case Rule::empty_link_target: return "a symbolic link with an empty target";
        case Rule::nul_in_link_target: return "a symbolic link whose target holds a NUL byte";
        case Rule::link_target_too_long:
            return too_long("a symbolic link whose target", text.size(), tar_format::MAX_NAME_LENGTH);
    }
    return "";
}

}  // namespace

std::string type_problem(std::string_view kind) {
    return std::string(kind) + "; the installer makes only files, directories and links";
}

std::string entry_problem(EntryKind kind, unsigned char type, std::string_view name, std::string_view link_name) {
    const tar_format::Decision decision = tar_format::decide(kind, name, link_name);
    if (decision.rule == Rule::unsupported_type) return type_problem(description_of(kind, type));
    if (decision.subject == tar_format::Subject::name) return rule_problem(decision.rule, name);
    const std::string problem = rule_problem(decision.rule, link_name);
    if (kind != EntryKind::hard_link) return problem;
    return "a hard link to " + terminal_text::printable(link_name) + ": " + problem;
}

}  // namespace zkpack
