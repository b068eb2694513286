#include <zk/zk.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

// Under AddressSanitizer an impossible allocation must return null, as the
// C library's does, instead of ending the test.
extern "C" const char* __asan_default_options() { return "allocator_may_return_null=1"; }

namespace {

// More than any allocator grants (above PTRDIFF_MAX, which a 32-bit
// process's 4 GiB could otherwise hold), and still a size_t the message
// can name.
constexpr size_t REFUSED = SIZE_MAX / 2 + 1;

std::string expected_report(const char* verb) {
    char text[128];
    std::snprintf(text, sizeof text, "CHK_ALLOC: Failed to %s memory. Wanted 0x%zx bytes\n", verb, REFUSED);
    return text;
}

TEST(CheckedAllocation, RefusedSizesAreReportedOnStandardOutput) {
    testing::internal::CaptureStdout();
    void* block = zk::chk_alloc(REFUSED);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), expected_report("allocate"));
    EXPECT_EQ(block, nullptr);

    testing::internal::CaptureStdout();
    block = zk::chk_zalloc(REFUSED);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), expected_report("zallocate"));
    EXPECT_EQ(block, nullptr);
}

TEST(CheckedAllocation, QuietMembersReturnNullWithoutAWord) {
    testing::internal::CaptureStdout();
    EXPECT_EQ(zk::check_alloc(REFUSED), nullptr);
    EXPECT_EQ(zk::chk_calloc(REFUSED, 1), nullptr);
    EXPECT_EQ(zk::chk_calloc(SIZE_MAX / 4, 8), nullptr) << "count times size overflows";
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

TEST(CheckedAllocation, RefusedReallocKeepsTheOldBlock) {
    auto* block = static_cast<char*>(zk::chk_alloc(6));
    ASSERT_NE(block, nullptr);
    std::memcpy(block, "intact", 6);

    testing::internal::CaptureStdout();
    EXPECT_EQ(zk::chk_realloc(block, REFUSED), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), expected_report("reallocate"));
    EXPECT_EQ(std::memcmp(block, "intact", 6), 0);
    zk::chk_free(block);
}

TEST(CheckedAllocation, ReallocGrowsKeepsContentAndNeverDropsTheBlock) {
    auto* block = static_cast<char*>(zk::chk_realloc(nullptr, 4));
    ASSERT_NE(block, nullptr);
    std::memcpy(block, "abcd", 4);
    block = static_cast<char*>(zk::chk_realloc(block, 4096));
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(std::memcmp(block, "abcd", 4), 0);

    // A shrink to nothing still hands back a block the caller owns: a null
    // here would read as "failed, old block still valid" after it was freed.
    testing::internal::CaptureStdout();
    block = static_cast<char*>(zk::chk_realloc(block, 0));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_NE(block, nullptr);
    zk::chk_free(block);
}

TEST(CheckedAllocation, ZeroedBlocksAreZero) {
    auto* zeroed = static_cast<unsigned char*>(zk::chk_zalloc(64));
    auto* counted = static_cast<unsigned char*>(zk::chk_calloc(8, 8));
    ASSERT_NE(zeroed, nullptr);
    ASSERT_NE(counted, nullptr);
    for (int i = 0; i < 64; ++i) {
        EXPECT_EQ(zeroed[i], 0);
        EXPECT_EQ(counted[i], 0);
    }
    zk::chk_free(zeroed);
    zk::chk_free(counted);
}

TEST(CheckedAllocation, MakestrConcatenatesUpToTheNullPointer) {
    char* joined = zk::chk_makestr("a", "b", "c", static_cast<const char*>(nullptr));
    ASSERT_NE(joined, nullptr);
    EXPECT_EQ(std::memcmp(joined, "abc", 4), 0);
    zk::chk_free(joined);

    char* one = zk::chk_makestr("only", static_cast<const char*>(nullptr));
    EXPECT_STREQ(one, "only");
    zk::chk_free(one);

    char* with_empty = zk::chk_makestr("", "x", "", "yz", static_cast<const char*>(nullptr));
    EXPECT_STREQ(with_empty, "xyz");
    zk::chk_free(with_empty);
}

TEST(CheckedAllocation, StrndupCopiesExactlyCountBytes) {
    char* copy = zk::chk_strndup("abc", 3);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(std::memcmp(copy, "abc", 3), 0);
    zk::chk_free(copy);  // AddressSanitizer catches any write past the 3 bytes

    const char with_nul[] = {'x', '\0', 'y'};
    copy = zk::chk_strndup(with_nul, 3);
    EXPECT_EQ(std::memcmp(copy, with_nul, 3), 0) << "an embedded NUL does not end the copy";
    zk::chk_free(copy);

    char* text = zk::chk_strdup("text");
    EXPECT_STREQ(text, "text");
    zk::chk_free(text);
}

TEST(CheckedAllocation, FreePtrReleasesAndClearsTheVariable) {
    char* text = zk::chk_strdup("owned");
    zk::chk_free_ptr(&text);
    EXPECT_EQ(text, nullptr);
    zk::chk_free_ptr(&text);  // already null: nothing happens
    EXPECT_EQ(text, nullptr);

    zk::chk_free_safe(nullptr);
    zk::chk_free_safe(zk::chk_alloc(1));
}

}  // namespace
