// string_qword_split in every mode and string_wordize on any text.
// Input: the text.
#include "fuzz_support.h"

#include <zk/zk.h>

#include <cstring>
#include <string>

using zkfuzz::require;

namespace {

void check_qword_split(const std::string& text, int mode) {
    int count = -1;
    zk::QWORD* words = zk::string_qword_split(text.c_str(), &count, mode);
    require(words != nullptr, "string_qword_split gives an array");
    int records = 0;
    for (; words[records].text != nullptr; ++records) {
        require(words[records].flags == 0 || words[records].flags == 4, "a word's flags are 0 or 4");
        zk::chk_free(words[records].text);
    }
    require(records == count, "the count is the number of words");
    zk::chk_free(words);
}

void check_wordize(const std::string& text) {
    char** words = zk::string_wordize(text.c_str());
    require(words != nullptr && words[0] != nullptr, "string_wordize gives at least one word");
    // Every word lies in the one copy that element 0 starts, in order.
    const char* copy_end = words[0] + text.size();
    for (char** word = words; *word != nullptr; ++word) {
        require(*word <= copy_end, "a word lies in the copy");
        if (word != words) require(word[-1] < *word, "words follow each other");
    }
    require(std::memcmp(words[0], text.c_str(), std::strlen(words[0])) == 0, "the first word is the text's start");
    zk::chk_free(words[0]);
    zk::chk_free(words);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    zkfuzz::FuzzInput input(data, size);
    const std::string text = input.take_text();
    for (int mode = 0; mode <= 3; ++mode) check_qword_split(text, mode);
    check_wordize(text);
    return 0;
}
