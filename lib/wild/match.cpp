#include <zk/wild/wild.h>

#include <zk/base/chk.h>

#include <array>
#include <cctype>
#include <cstring>

namespace zk {

namespace {

// A pattern is matched as a chain of segments: normally just the piece of the
// list, but while a brace alternative is tried, the alternative followed by
// the pattern after its closing brace.
struct Segment {
    const char* begin;
    const char* end;
    const Segment* next;
};

// Stars and brace lists that failed, so that none is tried twice: without
// this, patterns such as "*a*a*a*b" or "{,}{,}{,}b" take time exponential in
// their length. What follows such an element is fixed by its place in the
// piece, so an attempt is known by that place, the place in the name, the
// dot-file flag and whether the rule for a leading dot applies: one bit each.
// The outermost element is tried once, so only failures inside one are kept,
// and nothing is set up before the first, which most matches never reach.
struct FailedAttempts {
    const char* name;
    const char* piece;
    size_t piece_length;
    int depth;            // stars and brace lists being tried on the current path
    size_t name_places;   // the name's length + 1, the empty rest included; set with bits
    unsigned char* bits;  // null, small_bits, or a heap block for long names and pieces
    std::array<unsigned char, 256> small_bits;
};

size_t attempt_index(const FailedAttempts& failed, const char* text, const char* pattern, int flags, bool at_start) {
    const size_t place =
        static_cast<size_t>(pattern - failed.piece) * failed.name_places + static_cast<size_t>(text - failed.name);
    return place * 4 + ((flags & WILD_DOTFILES) != 0 ? 2 : 0) + (at_start ? 1 : 0);
}

bool has_failed(const FailedAttempts& failed, const char* text, const char* pattern, int flags, bool at_start) {
    if (failed.bits == nullptr) return false;
    const size_t index = attempt_index(failed, text, pattern, flags, at_start);
    return (failed.bits[index / 8] & (1u << (index % 8))) != 0;
}

void set_failed(FailedAttempts& failed, const char* text, const char* pattern, int flags, bool at_start) {
    if (failed.bits == nullptr) {
        failed.name_places = std::strlen(failed.name) + 1;
        const size_t bytes = (failed.piece_length * failed.name_places * 4 + 7) / 8;
        if (bytes <= failed.small_bits.size()) {
            std::memset(failed.small_bits.data(), 0, bytes);
            failed.bits = failed.small_bits.data();
        } else {
            // Without the block nothing is remembered: the match is only slower.
            failed.bits = static_cast<unsigned char*>(chk_calloc(bytes, 1));
            if (failed.bits == nullptr) return;
        }
    }
    const size_t index = attempt_index(failed, text, pattern, flags, at_start);
    failed.bits[index / 8] |= static_cast<unsigned char>(1u << (index % 8));
}

void forget_failures(FailedAttempts& failed) {
    if (failed.bits != failed.small_bits.data()) chk_free(failed.bits);
    failed.bits = nullptr;
}

bool match_pattern(const char* text, Segment pattern, int flags, bool at_start, FailedAttempts& failed);

bool is_exhausted(const Segment* pattern) {
    for (; pattern != nullptr; pattern = pattern->next) {
        if (pattern->begin != pattern->end) return false;
    }
    return true;
}

bool same_character(unsigned char pattern_char, unsigned char text_char, int flags) {
    if (pattern_char == text_char) return true;
    if ((flags & WILD_NOCASE) == 0 || pattern_char > 127 || text_char > 127) return false;
    return ::tolower(pattern_char) == ::tolower(text_char);
}

// Matches one character against the set that follows "["; returns the
// pattern position after the set.
const char* match_set(const char* position, const char* end, char text_char, bool* matched) {
    bool negated = false;
    if (position != end && *position == '^') {
        negated = true;
        ++position;
    }
    bool held = false;
    if (position != end && *position == ']') {
        *matched = negated;
        return position + 1;
    }
    // Ranges compare signed characters, so high bytes order below NUL.
    const auto value = static_cast<signed char>(text_char);
    while (position != end && *position != ']') {
        const auto low = static_cast<signed char>(*position++);
        auto high = low;
        if (end - position >= 2 && *position == '-') {
            high = static_cast<signed char>(position[1]);
            position += 2;
        }
        if (low <= value && value <= high) held = true;
    }
    if (position != end) ++position;
    *matched = held != negated;
    return position;
}

bool match_star(const char* text, Segment pattern, int flags, bool at_start, FailedAttempts& failed) {
    if (at_start && *text == '.' && (flags & WILD_DOTFILES) == 0) return false;
    const Segment rest{pattern.begin + 1, pattern.end, pattern.next};
    if (is_exhausted(&rest)) return true;
    const size_t length = std::strlen(text);
    if (length == 0) return false;
    // From the right, so the star takes as much as it can.
    const int rest_flags = flags & ~WILD_DOTFILES;
    for (size_t split = length; split-- > 0;) {
        if (match_pattern(text + split, rest, rest_flags, true, failed)) return true;
    }
    return false;
}

// The brace list that starts at `pattern.begin`: one alternative must match
// a prefix of the text and the pattern after the list the rest.
bool match_braces(const char* text, Segment pattern, int flags, FailedAttempts& failed) {
    const char* first = pattern.begin + 1;
    if (first == pattern.end || *first == '}') return false;

    const char* close = first;
    for (int depth = 0; close != pattern.end; ++close) {
        if (*close == '{') {
            ++depth;
        } else if (*close == '}') {
            if (depth == 0) break;
            --depth;
        }
    }
    const Segment after{close == pattern.end ? close : close + 1, pattern.end, pattern.next};

    const char* start = first;
    int depth = 0;
    for (const char* position = first;; ++position) {
        const bool list_ends = position == close;
        if (!list_ends && *position == '{') ++depth;
        if (!list_ends && *position == '}') --depth;
        if (list_ends || (*position == ',' && depth == 0)) {
            // A comma right before the end adds no alternative.
            const bool empty_last = list_ends && position == start;
            if (!empty_last && match_pattern(text, Segment{start, position, &after}, flags, true, failed)) {
                return true;
            }
            if (list_ends) return false;
            start = position + 1;
        }
    }
}

// `at_start`: the pattern's first character is the first of a piece, of an
// alternative or of the rest after a star, where the leading-dot rule holds.
// A star or a brace list, unless it failed here before.
bool match_branching(const char* text, Segment pattern, int flags, bool at_start, FailedAttempts& failed) {
    if (has_failed(failed, text, pattern.begin, flags, at_start)) return false;
    ++failed.depth;
    const bool matched = *pattern.begin == '*' ? match_star(text, pattern, flags, at_start, failed)
                                               : match_braces(text, pattern, flags, failed);
    --failed.depth;
    if (!matched && failed.depth > 0) set_failed(failed, text, pattern.begin, flags, at_start);
    return matched;
}

bool match_pattern(const char* text, Segment pattern, int flags, bool at_start, FailedAttempts& failed) {
    for (;; at_start = false) {
        if (pattern.begin == pattern.end) {
            if (pattern.next == nullptr) return *text == '\0';
            pattern = *pattern.next;
            continue;
        }
        switch (*pattern.begin) {
            case '*':
            case '{': return match_branching(text, pattern, flags, at_start, failed);
            case '?':
                if (*text == '\0') return false;
                ++pattern.begin;
                break;
            case '[': {
                if (*text == '\0') return false;
                bool matched = false;
                pattern.begin = match_set(pattern.begin + 1, pattern.end, *text, &matched);
                if (!matched) return false;
                break;
            }
            default:
                if (*text == '\0' || !same_character(*pattern.begin, *text, flags)) return false;
                ++pattern.begin;
                break;
        }
        ++text;
    }
}

}  // namespace

int wild_match(const char* name, const char* patterns, int flags) {
    if (name == nullptr || patterns == nullptr) return 0;
    FailedAttempts failed;
    failed.name = name;
    failed.depth = 0;
    failed.bits = nullptr;
    for (const char* piece = patterns; *piece != '\0';) {
        const char* end = std::strchr(piece, ';');
        if (end == nullptr) end = piece + std::strlen(piece);
        failed.piece = piece;
        failed.piece_length = static_cast<size_t>(end - piece);
        const bool matched = match_pattern(name, Segment{piece, end, nullptr}, flags, true, failed);
        forget_failures(failed);
        if (matched) return 1;
        if (*end == '\0') break;
        piece = end + 1;
    }
    return 0;
}

}  // namespace zk
