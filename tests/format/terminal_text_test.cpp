// What the programs print of a package's names, assignments and trusted
// comments: every byte a terminal could obey as a control is escaped,
// text in UTF-8 is not.
#include "terminal_text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using terminal_text::Tabs;

struct Shown {
    const char* what;
    std::string text;
    std::string escaped;
    std::string tabs_kept;  // empty: as escaped
};

const Shown CASES[] = {
    {"ASCII", "bin/tool-1.2 x", "bin/tool-1.2 x", ""},
    {"C0 controls, DEL and a backslash", "a\033[2J\x7f\\b\n", "a\\033[2J\\177\\\\b\\012", ""},
    {"a tab, kept for comments", "a\tb", "a\\011b", "a\tb"},
    {"C1 controls in UTF-8", "\302\200x\302\23331m\302\237", "\\302\\200x\\302\\23331m\\302\\237", ""},
    {"lone bytes 0x80 to 0x9F", "\23331m\200", "\\23331m\\200", ""},
    {"an overlong CSI", "\xc0\x9b\xe0\x82\x9b", "\xc0\\233\xe0\\202\\233", ""},
    {"a sequence cut short", "\xe2\x80", "\xe2\\200", ""},
    {"a surrogate", "\xed\xa0\x80", "\xed\xa0\\200", ""},
    {"UTF-8 text, its continuation bytes 0x80 to 0x9F included",
     "caf\xc3\xa9 \xc2\xa0\xe2\x80\x9c\xf0\x9f\x98\x80\xf4\x8f\xbf\xbf",
     "caf\xc3\xa9 \xc2\xa0\xe2\x80\x9c\xf0\x9f\x98\x80\xf4\x8f\xbf\xbf", ""},
    {"bytes 0xA0 to 0xFF outside a sequence", "\xa9\xff\xc3", "\xa9\xff\xc3", ""},
    {"past U+10FFFF", "\xf4\x90\x80\x80", "\xf4\\220\\200\\200", ""},
};

TEST(TerminalText, EscapesEveryControlAndKeepsUtf8) {
    for (const Shown& c : CASES) {
        EXPECT_EQ(terminal_text::printable(c.text), c.escaped) << c.what;
        EXPECT_EQ(terminal_text::printable(c.text, Tabs::kept), c.tabs_kept.empty() ? c.escaped : c.tabs_kept)
            << c.what;
    }
}

}  // namespace
