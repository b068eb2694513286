#include <zk/sort/qsort.h>
#include "qsort_internal.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace zk {

void* (*merge_scratch_alloc)(size_t bytes) = std::malloc;

namespace {

using Comparator = int (*)(const void*, const void*);

constexpr size_t SELECTION_SORT_MAX = 5;
constexpr size_t MERGE_STACK_BYTES = 4096;

// The comparator of the merge sort in progress, read by merge_sort.
Comparator current_comparator = nullptr;

template <typename Word>
void swap_words(unsigned char* a, unsigned char* b) {
    Word word_a;
    Word word_b;
    std::memcpy(&word_a, a, sizeof(Word));
    std::memcpy(&word_b, b, sizeof(Word));
    std::memcpy(a, &word_b, sizeof(Word));
    std::memcpy(b, &word_a, sizeof(Word));
}

// Pointer arrays are the common case; they swap as whole words.
void swap_elements(unsigned char* a, unsigned char* b, size_t size) {
    if (size == sizeof(uint32_t)) {
        swap_words<uint32_t>(a, b);
    } else if (size == sizeof(uint64_t)) {
        swap_words<uint64_t>(a, b);
    } else {
        for (size_t i = 0; i < size; ++i) {
            const unsigned char byte = a[i];
            a[i] = b[i];
            b[i] = byte;
        }
    }
}

// Pointer-sized elements copy as one word; a fixed-size copy is inlined.
inline void copy_element(unsigned char* to, const unsigned char* from, size_t size) {
    if (size == sizeof(void*)) {
        std::memcpy(to, from, sizeof(void*));
    } else {
        std::memcpy(to, from, size);
    }
}

// Not stable: a swap can carry an element past its equals.
void selection_sort(unsigned char* base, size_t count, size_t size, Comparator compare) {
    unsigned char* const end = base + count * size;
    for (unsigned char* position = base; position < end; position += size) {
        unsigned char* minimum = position;
        for (unsigned char* later = position + size; later < end; later += size) {
            if (compare(later, minimum) < 0) {
                minimum = later;
            }
        }
        if (minimum != position) {
            swap_elements(position, minimum, size);
        }
    }
}

// The first of the count elements at base that does not sort before key
// (with_equals false) or after it (with_equals true).
unsigned char* bound(unsigned char* base, size_t count, size_t size, const unsigned char* key, bool with_equals) {
    while (count > 0) {
        const size_t half = count / 2;
        unsigned char* middle = base + half * size;
        const int order = current_comparator(middle, key);
        if (order < 0 || (with_equals && order == 0)) {
            base = middle + size;
            count -= half + 1;
        } else {
            count = half;
        }
    }
    return base;
}

// Merges two adjacent sorted runs of left and right elements without
// scratch, by rotations: slower than a merge through a block, but the array
// still ends sorted and stable when no block can be had.
void merge_in_place(unsigned char* base, size_t left, size_t right, size_t size) {
    if (left == 0 || right == 0) return;
    unsigned char* const middle = base + left * size;
    if (left + right == 2) {
        if (current_comparator(base, middle) > 0) swap_elements(base, middle, size);
        return;
    }
    unsigned char* left_cut;
    unsigned char* right_cut;
    if (left >= right) {
        left_cut = base + left / 2 * size;
        right_cut = bound(middle, right, size, left_cut, false);
    } else {
        right_cut = middle + right / 2 * size;
        left_cut = bound(base, left, size, right_cut, true);
    }
    std::rotate(left_cut, middle, right_cut);
    const size_t moved_left = static_cast<size_t>(middle - left_cut) / size;
    const size_t moved_right = static_cast<size_t>(right_cut - middle) / size;
    unsigned char* const joined = left_cut + moved_right * size;
    merge_in_place(base, static_cast<size_t>(left_cut - base) / size, moved_right, size);
    merge_in_place(joined, moved_left, right - moved_right, size);
}

// Merges base[0, left_bytes) and base[left_bytes, total_bytes). Ties take the
// left element, which keeps the sort stable. A large run whose scratch block
// cannot be had is merged in place.
void merge_sort(size_t left_bytes, size_t total_bytes, size_t size, unsigned char* base) {
    std::array<unsigned char, MERGE_STACK_BYTES> stack_scratch;
    unsigned char* heap_scratch = nullptr;
    if (total_bytes >= MERGE_STACK_BYTES) {
        heap_scratch = static_cast<unsigned char*>(merge_scratch_alloc(total_bytes));
        if (heap_scratch == nullptr) {
            merge_in_place(base, left_bytes / size, (total_bytes - left_bytes) / size, size);
            return;
        }
    }
    unsigned char* const scratch = heap_scratch != nullptr ? heap_scratch : stack_scratch.data();

    size_t left = 0;
    size_t right = left_bytes;
    unsigned char* out = scratch;
    while (left < left_bytes && right < total_bytes) {
        if (current_comparator(base + left, base + right) > 0) {
            copy_element(out, base + right, size);
            right += size;
        } else {
            copy_element(out, base + left, size);
            left += size;
        }
        out += size;
    }
    std::memcpy(out, base + left, left_bytes - left);
    out += left_bytes - left;
    std::memcpy(out, base + right, total_bytes - right);

    std::memcpy(base, scratch, total_bytes);
    std::free(heap_scratch);
}

void split_and_merge(size_t count, size_t size, unsigned char* base) {
    if (count <= 1) {
        return;
    }
    const size_t half = count / 2;
    split_and_merge(half, size, base);
    split_and_merge(count - half, size, base + half * size);
    merge_sort(half * size, count * size, size, base);
}

}  // namespace

void qsort(void* base, size_t count, size_t size, Comparator compare) {
    auto* bytes = static_cast<unsigned char*>(base);
    if (count <= SELECTION_SORT_MAX) {
        selection_sort(bytes, count, size, compare);
        return;
    }
    // Restored afterwards so that a comparator may itself sort.
    const Comparator outer_comparator = current_comparator;
    current_comparator = compare;
    split_and_merge(count, size, bytes);
    current_comparator = outer_comparator;
}

}  // namespace zk
