// Text from a package or a signature as the programs print it: a name, an
// assignment or a trusted comment cannot send a control sequence to the
// terminal, and whatever it holds can be read back from what is shown.
#pragma once

#include <string>
#include <string_view>

namespace terminal_text {

enum class Tabs { escaped, kept };

// Each byte of a control character as \ooo: C0 controls and DEL, and C1
// controls (U+0080 to U+009F) both as UTF-8 and as single bytes 0x80 to
// 0x9F outside a valid UTF-8 sequence, which 8-bit terminals obey. A
// backslash becomes \\. Valid UTF-8 is kept as it is, and so are the bytes
// 0xA0 to 0xFF of invalid sequences, which no terminal takes as controls.
std::string printable(std::string_view text, Tabs tabs = Tabs::escaped);

}  // namespace terminal_text
