// The welcome text as the terminal shows it: wrapped at 75 columns, a word
// measured only within its 1024-byte block, the column carried across blocks.
#include <string>

#include "welcome_fixture.h"

namespace welcometest {
namespace {

struct WrapCase {
    const char* what;
    std::string text;
    std::string shown;
};

void PrintTo(const WrapCase& c, std::ostream* os) { *os << c.what; }

std::string repeat(char c, size_t n) { return std::string(n, c); }

// Blocks are 1024 bytes; this many line feeds put `tail` at the end of the first.
std::string ending_first_block(const std::string& tail) { return repeat('\n', 1024 - tail.size()) + tail; }

class Wrap : public WelcomeRun, public ::testing::WithParamInterface<WrapCase> {};

TEST_P(Wrap, ShowsTheTextAsExpected) {
    const WrapCase& c = GetParam();
    ::mkdir((dir / "here").c_str(), 0755);
    pack(c.text);
    const zktest::RunResult r = install(dir / "here\n");
    EXPECT_EQ(r.out, c.shown + PROMPT + SUCCESS);
    EXPECT_EQ(r.err, verified());
    EXPECT_EQ(r.status, 0);
}

const std::string x70 = repeat('x', 70);

INSTANTIATE_TEST_SUITE_P(
    Texts, Wrap,
    ::testing::Values(
        WrapCase{"a word ending at column 75 stays", x70 + " abcd\nnext", x70 + " abcd\nnext"},
        WrapCase{"a word passing column 75 moves, its blank stays behind", x70 + " abcde f", x70 + " \nabcde f"},
        WrapCase{"blanks past column 75 never break", repeat('x', 75) + "   \n", repeat('x', 75) + "   \n"},
        WrapCase{"a tab counts one column", x70 + "\tabcd " + x70 + "\tabcde", x70 + "\tabcd \n" + x70 + "\t\nabcde"},
        WrapCase{"a carriage return counts one column", x70 + "\rabcd" + "\r\n" + x70 + "\rabcde",
                 x70 + "\rabcd\r\n" + x70 + "\r\nabcde"},
        WrapCase{"CR LF lines reset the column", repeat('x', 74) + "\r\n" + x70 + " abcd\r\n",
                 repeat('x', 74) + "\r\n" + x70 + " abcd\r\n"},
        WrapCase{"a word over 75 columns gets a line of its own and the text goes on", "ab " + repeat('w', 80) + " cd",
                 "ab \n" + repeat('w', 80) + " \ncd"},
        WrapCase{"a word over 75 columns at the start of a line is not broken", "ab\n" + repeat('w', 80) + " cd",
                 "ab\n" + repeat('w', 80) + " \ncd"},
        WrapCase{"the column carries over into the next block", ending_first_block(x70) + " abcde",
                 ending_first_block(x70) + " \nabcde"},
        WrapCase{"a word at the first byte of a block is never moved", ending_first_block(x70 + " ") + "abcde z",
                 ending_first_block(x70 + " ") + "abcde \nz"},
        WrapCase{"a word is measured only within its block",
                 ending_first_block(repeat('x', 60) + " ab") + repeat('c', 30) + " z",
                 ending_first_block(repeat('x', 60) + " ab") + repeat('c', 30) + " \nz"},
        WrapCase{"an empty text shows nothing", "", ""}));

}  // namespace
}  // namespace welcometest
