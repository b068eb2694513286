// brace_expand and brace_expand_string on any text.
// Input: the word-splitting mode byte, then the text.
#include "fuzz_support.h"

#include <zk/zk.h>

#include <algorithm>
#include <cstring>
#include <string>

using zkfuzz::require;

namespace {

// A text with n commas has at most 2^n expansions: past this many the run
// spends its time copying, not reaching new code.
constexpr long max_commas = 12;

void check_brace_expand(const std::string& text) {
    zk::BRACE* list = zk::brace_expand(text.c_str());
    require(list->count >= 1, "brace_expand gives at least one text");
    for (int32_t i = 0; i < list->count; ++i) {
        // Expanding only removes braces and commas.
        require(std::strlen(list->items[i]) <= text.size(), "an expansion is no longer than its text");
        zk::chk_free(list->items[i]);
    }
    if (text.find('{') == std::string::npos) {
        require(list->count == 1, "a text without braces is its own expansion");
    }
    zk::chk_free(list->items);
    zk::chk_free(list);
}

void check_brace_expand_string(const std::string& text, int mode) {
    int count = -1;
    zk::EXPANDED_WORD* words = zk::brace_expand_string(text.c_str(), &count, mode);
    require(count >= 0, "the count is set");
    for (int i = 0; i < count; ++i) {
        require(words[i].text != nullptr, "every counted word has a text");
        require(words[i].literal == 0 || words[i].literal == 1, "the literal flag is 0 or 1");
        zk::chk_free(words[i].text);
    }
    require(words[count].text == nullptr, "a zeroed record ends the words");
    zk::chk_free(words);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    zkfuzz::FuzzInput input(data, size);
    const int mode = input.take_byte() & 3;
    const std::string text = input.take_text();
    if (std::count(text.begin(), text.end(), ',') > max_commas) return -1;

    check_brace_expand(text);
    check_brace_expand_string(text, mode);
    return 0;
}
