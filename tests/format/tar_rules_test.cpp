// Which rule an entry breaks, as both programs word it: where several
// are broken, the first in the order of the checks; a hard link's target
// broken as a name; a bad name before an unsupported type.
#include "tar_format.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using tar_format::EntryKind;
using tar_format::Rule;
using tar_format::Subject;

struct RuleCase {
    const char* what;
    EntryKind kind;
    std::string name;
    std::string link_name;
    Rule rule;
    Subject subject;
};

const RuleCase RULE_CASES[] = {
    {"a plain file", EntryKind::regular, "a/./b", "", Rule::none, Subject::name},
    {"too long before absolute", EntryKind::regular, "/" + std::string(4095, 'n'), "", Rule::name_too_long,
     Subject::name},
    {"absolute before '..'", EntryKind::regular, "/../x", "", Rule::absolute_name, Subject::name},
    {"NUL before '..'", EntryKind::regular, std::string("..\0y/x", 6), "", Rule::nul_in_name, Subject::name},
    {"long component before '..'", EntryKind::regular, "../" + std::string(256, 'c'), "", Rule::component_too_long,
     Subject::name},
    {"a hard link's target climbs", EntryKind::hard_link, "h", "../etc/passwd", Rule::dot_dot_component,
     Subject::link_target},
    {"the link's own name first", EntryKind::hard_link, "/h", "", Rule::absolute_name, Subject::name},
    {"a symbolic link's target may climb", EntryKind::symbolic_link, "s", "../../x", Rule::none, Subject::name},
    {"NUL in a target of 4096 bytes", EntryKind::symbolic_link, "s", std::string(4095, 't') + '\0',
     Rule::nul_in_link_target, Subject::link_target},
    {"unsafe name before the type", EntryKind::unsupported, "../fifo", "", Rule::dot_dot_component,
     Subject::name},
};

TEST(TarRules, DecideNamesTheFirstRuleBroken) {
    for (const RuleCase& c : RULE_CASES) {
        const tar_format::Decision decision = tar_format::decide(c.kind, c.name, c.link_name);
        EXPECT_EQ(decision.rule, c.rule) << c.what;
        EXPECT_EQ(decision.subject, c.subject) << c.what;
    }
}

}  // namespace
