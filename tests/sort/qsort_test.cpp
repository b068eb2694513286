#include <zk/zk.h>
#include "sort/qsort_internal.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <numeric>
#include <random>
#include <string>
#include <vector>

namespace {

struct Record {
    int key;
    int id;
};

int compare_keys(const void* a, const void* b) {
    const int ka = static_cast<const Record*>(a)->key;
    const int kb = static_cast<const Record*>(b)->key;
    return (ka > kb) - (ka < kb);
}

int comparator_calls = 0;

int counting_compare_ints(const void* a, const void* b) {
    ++comparator_calls;
    const int x = *static_cast<const int*>(a);
    const int y = *static_cast<const int*>(b);
    return (x > y) - (x < y);
}

std::vector<int> ids(const std::vector<Record>& records) {
    std::vector<int> result;
    for (const Record& record : records) result.push_back(record.id);
    return result;
}

TEST(Qsort, MergeSortKeepsEqualKeysInInputOrder) {
    for (int count : {6, 7, 31, 100}) {
        SCOPED_TRACE(count);
        std::vector<Record> records;
        for (int i = 0; i < count; ++i) records.push_back({(count - i) % 3, i});
        std::vector<Record> expected = records;
        std::stable_sort(expected.begin(), expected.end(),
                         [](const Record& a, const Record& b) { return a.key < b.key; });
        zk::qsort(records.data(), records.size(), sizeof(Record), compare_keys);
        EXPECT_EQ(ids(records), ids(expected));
    }
}

TEST(Qsort, SixEqualKeysStayPut) {
    std::vector<Record> records = {{4, 0}, {4, 1}, {4, 2}, {4, 3}, {4, 4}, {4, 5}};
    zk::qsort(records.data(), records.size(), sizeof(Record), compare_keys);
    EXPECT_EQ(ids(records), (std::vector<int>{0, 1, 2, 3, 4, 5}));
}

TEST(Qsort, SelectionSortOfFiveOrFewerIsNotStable) {
    std::vector<Record> records = {{2, 1}, {2, 2}, {1, 0}};  // B1 B2 A
    zk::qsort(records.data(), records.size(), sizeof(Record), compare_keys);
    EXPECT_EQ(ids(records), (std::vector<int>{0, 2, 1})) << "A B2 B1";
}

TEST(Qsort, SelectionSortOfFiveComparesTenTimes) {
    int values[] = {5, 1, 4, 2, 3};
    comparator_calls = 0;
    zk::qsort(values, 5, sizeof(int), counting_compare_ints);
    EXPECT_EQ(comparator_calls, 10);
    EXPECT_EQ(std::vector<int>(values, values + 5), (std::vector<int>{1, 2, 3, 4, 5}));
}

TEST(Qsort, NoneOrOneElementNeverCallsTheComparator) {
    int single = 42;
    comparator_calls = 0;
    zk::qsort(nullptr, 0, sizeof(int), counting_compare_ints);
    zk::qsort(&single, 0, sizeof(int), counting_compare_ints);
    zk::qsort(&single, 1, sizeof(int), counting_compare_ints);
    EXPECT_EQ(comparator_calls, 0);
    EXPECT_EQ(single, 42);
}

std::vector<size_t> scratch_requests;
bool refuse_scratch = false;

void* watching_alloc(size_t bytes) {
    scratch_requests.push_back(bytes);
    return refuse_scratch ? nullptr : std::malloc(bytes);
}

// Installs the watching allocator for one test and puts the real one back.
class ScratchWatch {
public:
    explicit ScratchWatch(bool refuse) {
        scratch_requests.clear();
        refuse_scratch = refuse;
        zk::merge_scratch_alloc = watching_alloc;
    }
    ~ScratchWatch() { zk::merge_scratch_alloc = std::malloc; }
    ScratchWatch(const ScratchWatch&) = delete;
    ScratchWatch& operator=(const ScratchWatch&) = delete;
};

int compare_first_byte(const void* a, const void* b) {
    return *static_cast<const unsigned char*>(a) - *static_cast<const unsigned char*>(b);
}

TEST(Qsort, RunsOf4096BytesOrMoreTakeAHeapBlock) {
    struct Case {
        size_t count;
        size_t size;
        std::vector<size_t> requests;
    };
    const std::vector<Case> cases = {
        {511, 8, {}},  {512, 8, {4096}},  {1024, 8, {4096, 4096, 8192}}, {4095, 1, {}}, {4096, 1, {4096}},
        {273, 15, {}}, {274, 15, {4110}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.count) + " x " + std::to_string(c.size));
        std::vector<unsigned char> array(c.count * c.size);
        for (size_t i = 0; i < array.size(); ++i) array[i] = static_cast<unsigned char>(255 - i * 7 % 256);
        ScratchWatch watch(false);
        zk::qsort(array.data(), c.count, c.size, compare_first_byte);
        std::vector<size_t> heap_requests;
        for (size_t bytes : scratch_requests) {
            if (bytes >= 4096) heap_requests.push_back(bytes);
        }
        EXPECT_EQ(scratch_requests, heap_requests) << "runs under 4096 bytes never reach the heap";
        EXPECT_EQ(heap_requests, c.requests);
        for (size_t i = c.size; i < array.size(); i += c.size) {
            ASSERT_LE(array[i - c.size], array[i]) << "at element " << i / c.size;
        }
    }
}

// A merge whose block is refused is made in place: the array still ends
// sorted, and equal keys keep their order.
TEST(Qsort, RefusedHeapBlockStillSortsStably) {
    // 2048 pairs (key, input position) of 8 bytes, keys in a few equal
    // classes: the merges of 512 elements and more (4096 bytes) are refused.
    struct Pair {
        int key;
        int position;
    };
    std::vector<Pair> values(2048);
    for (size_t i = 0; i < values.size(); ++i)
        values[i] = {static_cast<int>((values.size() - i) * 7 % 13), static_cast<int>(i)};
    std::vector<Pair> expected = values;
    std::stable_sort(expected.begin(), expected.end(), [](const Pair& a, const Pair& b) { return a.key < b.key; });
    ScratchWatch watch(true);
    zk::qsort(values.data(), values.size(), sizeof(Pair), counting_compare_ints);
    EXPECT_EQ(scratch_requests, (std::vector<size_t>{4096, 4096, 8192, 4096, 4096, 8192, 16384}));
    for (size_t i = 0; i < values.size(); ++i) {
        ASSERT_EQ(values[i].key, expected[i].key) << "at " << i;
        ASSERT_EQ(values[i].position, expected[i].position) << "at " << i;
    }
}

int compare_by_sorting_inside(const void* a, const void* b) {
    int inner[] = {6, 5, 4, 3, 2, 1, 0};
    zk::qsort(inner, 7, sizeof(int), counting_compare_ints);
    return counting_compare_ints(a, b);
}

TEST(Qsort, AComparatorMaySortOnItsOwn) {
    std::vector<int> values = {9, 3, 7, 1, 8, 2, 6, 4, 5, 0};
    zk::qsort(values.data(), values.size(), sizeof(int), compare_by_sorting_inside);
    EXPECT_EQ(values, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
}

size_t key_bytes = 1;

int compare_keys_sign(const void* a, const void* b) {
    const int order = std::memcmp(a, b, key_bytes);
    return (order > 0) - (order < 0);
}

int compare_keys_scaled(const void* a, const void* b) { return std::memcmp(a, b, key_bytes) * 1000; }

// Random arrays against std::stable_sort, comparing only a short key so that
// ties are common; the bytes after the key tell equal elements apart.
TEST(Qsort, RandomArraysMatchAStableSort) {
    std::mt19937 random(20240611);
    const std::vector<size_t> counts = {2, 3, 4, 5, 6, 7, 8, 9, 15, 16, 17, 63, 64, 65, 100, 511, 512, 513, 1000, 4099};
    for (size_t size : {1, 2, 3, 4, 5, 8, 12, 16, 33, 100}) {
        for (size_t count : counts) {
            SCOPED_TRACE(std::to_string(count) + " x " + std::to_string(size));
            key_bytes = std::min<size_t>(size, 2);
            const int key_values = static_cast<int>(random() % 8 + 2);
            std::vector<unsigned char> array(count * size);
            for (size_t i = 0; i < array.size(); ++i) {
                const bool is_key = i % size < key_bytes;
                array[i] = static_cast<unsigned char>(is_key ? random() % key_values : random());
            }
            std::vector<size_t> order(count);
            std::iota(order.begin(), order.end(), 0);
            std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
                return std::memcmp(&array[a * size], &array[b * size], key_bytes) < 0;
            });
            std::vector<unsigned char> expected;
            for (size_t index : order) {
                expected.insert(expected.end(), &array[index * size], &array[index * size] + size);
            }
            const bool scaled = count % 2 == 1;
            zk::qsort(array.data(), count, size, scaled ? compare_keys_scaled : compare_keys_sign);
            if (count > 5) {
                ASSERT_EQ(array, expected);
            } else {
                for (size_t i = 0; i < count; ++i) {
                    ASSERT_EQ(std::memcmp(&array[i * size], &expected[i * size], key_bytes), 0) << "element " << i;
                }
                std::vector<std::string> got;
                std::vector<std::string> want;
                for (size_t i = 0; i < count; ++i) {
                    got.emplace_back(reinterpret_cast<const char*>(&array[i * size]), size);
                    want.emplace_back(reinterpret_cast<const char*>(&expected[i * size]), size);
                }
                std::sort(got.begin(), got.end());
                std::sort(want.begin(), want.end());
                ASSERT_EQ(got, want) << "the same elements";
            }
        }
    }
}

}  // namespace
