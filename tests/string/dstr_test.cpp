#include <zk/zk.h>

#include <sys/resource.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "support.h"

#ifdef ZKTEST_ASAN
// The allocation-failure test needs refused requests to come back null, as
// they do from the C library, instead of ending the process.
extern "C" const char* __asan_default_options() { return "allocator_may_return_null=1:max_allocation_size_mb=512"; }
#endif

namespace {

using Bytes = std::vector<unsigned char>;

Bytes content(const zk::DSTR& dstr) { return Bytes(dstr.dl_buf, dstr.dl_buf + dstr.dl_len); }

// A record of `size` bytes whose first `len` bytes are a known pattern.
zk::DSTR patterned(int size, int len) {
    zk::DSTR dstr;
    zk::dstr_init(&dstr, size);
    for (int i = 0; i < len; ++i) {
        dstr.dl_buf[i] = static_cast<unsigned char>('A' + i % 26);
    }
    zk::dstr_set_size(&dstr, len);
    return dstr;
}

Bytes pattern(int len) {
    zk::DSTR dstr = patterned(len, len);
    Bytes bytes = content(dstr);
    zk::dstr_free(&dstr);
    return bytes;
}

struct GrowthCase {
    const char* name;
    int start_size;
    int start_len;
    std::function<void(zk::DSTR*)> append;
    int expected_size;
    int expected_len;
};

const char TEN_BYTES[] = "0123456789";

TEST(DstrGrowth, EachAppenderGrowsByItsOwnRule) {
    const std::vector<GrowthCase> cases = {
        {"char at the edge", 10, 9, [](zk::DSTR* d) { zk::dstr_add_char(d, 'x'); }, 74, 10},
        {"char below the edge", 10, 8, [](zk::DSTR* d) { zk::dstr_add_char(d, 'x'); }, 10, 9},
        {"nchar at the edge", 100, 95, [](zk::DSTR* d) { zk::dstr_add_nchar(d, 'x', 5); }, 169, 100},
        {"nchar below the edge", 100, 94, [](zk::DSTR* d) { zk::dstr_add_nchar(d, 'x', 5); }, 100, 99},
        {"nchar of none on a full buffer", 10, 10, [](zk::DSTR* d) { zk::dstr_add_nchar(d, 'x', 0); }, 10, 10},
        {"nchar of a negative count", 10, 10, [](zk::DSTR* d) { zk::dstr_add_nchar(d, 'x', -3); }, 10, 10},
        {"mem adds a tenth", 100, 95, [](zk::DSTR* d) { zk::dstr_add_mem(d, TEN_BYTES, 10); }, 184, 105},
        {"mem tenth truncated", 109, 100, [](zk::DSTR* d) { zk::dstr_add_mem(d, TEN_BYTES, 10); }, 193, 110},
        {"mem below the edge", 100, 89, [](zk::DSTR* d) { zk::dstr_add_mem(d, TEN_BYTES, 10); }, 100, 99},
        {"mem of nothing on a full buffer", 100, 100, [](zk::DSTR* d) { zk::dstr_add_mem(d, TEN_BYTES, 0); }, 174, 100},
        {"string", 100, 95, [](zk::DSTR* d) { zk::dstr_add_string(d, TEN_BYTES, 10); }, 174, 105},
        {"terminate", 10, 9, [](zk::DSTR* d) { zk::dstr_terminate(d); }, 18, 10},
        {"id", 10, 8, [](zk::DSTR* d) { zk::dstr_add_id(d, 1); }, 74, 10},
        {"int24", 10, 7, [](zk::DSTR* d) { zk::dstr_add_int24(d, 1); }, 74, 10},
        {"int24 below the edge", 10, 6, [](zk::DSTR* d) { zk::dstr_add_int24(d, 1); }, 10, 9},
        {"int32", 10, 6, [](zk::DSTR* d) { zk::dstr_add_int32(d, 1); }, 74, 10},
        {"int64", 10, 2, [](zk::DSTR* d) { zk::dstr_add_int64(d, 1); }, 18, 10},
        {"int short form", 10, 8, [](zk::DSTR* d) { zk::dstr_add_int(d, 1); }, 76, 10},
        {"int long form", 10, 5, [](zk::DSTR* d) { zk::dstr_add_int(d, 1000); }, 79, 10},
        {"integer through int", 10, 8, [](zk::DSTR* d) { zk::dstr_add_integer(d, 5); }, 76, 10},
        {"integer 9-byte form", 10, 1, [](zk::DSTR* d) { zk::dstr_add_integer(d, -1); }, 19, 10},
        {"integer 9-byte form on a full buffer", 10, 10, [](zk::DSTR* d) { zk::dstr_add_integer(d, -1); }, 19, 19},
        {"integer 9-byte form below the edge", 10, 0, [](zk::DSTR* d) { zk::dstr_add_integer(d, -1); }, 10, 9},
        {"float", 10, 1, [](zk::DSTR* d) { zk::dstr_add_float(d, 1.5); }, 83, 10},
        {"null needs two bytes", 10, 8, [](zk::DSTR* d) { zk::dstr_add_null(d); }, 18, 9},
        {"null below the edge", 10, 7, [](zk::DSTR* d) { zk::dstr_add_null(d); }, 10, 8},
        {"ptr", 10, 5, [](zk::DSTR* d) { zk::dstr_add_ptr(d, 7, 1); }, 74, 10},
        {"reserve", 100, 90, [](zk::DSTR* d) { zk::dstr_reserve(d, 10); }, 174, 100},
        {"reserve_zero", 100, 92, [](zk::DSTR* d) { zk::dstr_reserve_zero(d, 8); }, 172, 100},
        {"cstring plain byte", 10, 9, [](zk::DSTR* d) { zk::dstr_add_cstring(d, "a", 1); }, 74, 10},
        {"cstring hex escape", 10, 9, [](zk::DSTR* d) { zk::dstr_add_cstring(d, "\x01", 1); }, 79, 13},
        {"cstring two-byte escape", 10, 8, [](zk::DSTR* d) { zk::dstr_add_cstring(d, "\n", 1); }, 74, 10},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        zk::DSTR dstr = patterned(c.start_size, c.start_len);
        ASSERT_EQ(dstr.dl_size, c.start_size);
        c.append(&dstr);
        EXPECT_EQ(dstr.dl_size, c.expected_size);
        EXPECT_EQ(dstr.dl_len, c.expected_len);
        const Bytes kept(dstr.dl_buf, dstr.dl_buf + c.start_len);
        EXPECT_EQ(kept, pattern(c.start_len)) << "content before the append is kept";
        zk::dstr_free(&dstr);
    }
}

TEST(DstrGrowth, ZeroRecordGrowsOnFirstAppend) {
    zk::DSTR dstr{};
    zk::dstr_add_char(&dstr, 'q');
    EXPECT_EQ(dstr.dl_size, 64);
    EXPECT_EQ(content(dstr), Bytes{'q'});
    zk::dstr_free(&dstr);
}

TEST(DstrGrowth, AppendsOfTheRequestLeaveASpareByte) {
    zk::DSTR dstr;
    zk::dstr_init(&dstr, 4);
    for (int i = 0; i < 300; ++i) {
        zk::dstr_add_string(&dstr, TEN_BYTES, i % 11);
        ASSERT_LT(dstr.dl_len, dstr.dl_size) << "after append " << i;
    }
    zk::dstr_free(&dstr);
}

struct TagCase {
    const char* name;
    std::function<void(zk::DSTR*)> append;
    Bytes expected;
};

Bytes float_bytes(double value) {
    Bytes bytes(9, 0x0A);
    std::memcpy(bytes.data() + 1, &value, sizeof value);
    return bytes;
}

TEST(DstrTags, EncodingsAtTheirBoundaries) {
    const std::vector<TagCase> cases = {
        {"int 0", [](zk::DSTR* d) { zk::dstr_add_int(d, 0); }, {0x0E, 0x00}},
        {"int 127", [](zk::DSTR* d) { zk::dstr_add_int(d, 127); }, {0x0E, 0x7F}},
        {"int -127", [](zk::DSTR* d) { zk::dstr_add_int(d, -127); }, {0x0E, 0x81}},
        {"int 128", [](zk::DSTR* d) { zk::dstr_add_int(d, 128); }, {0x01, 0x00, 0x00, 0x00, 0x80}},
        {"int -128", [](zk::DSTR* d) { zk::dstr_add_int(d, -128); }, {0x01, 0xFF, 0xFF, 0xFF, 0x80}},
        {"int min", [](zk::DSTR* d) { zk::dstr_add_int(d, INT32_MIN); }, {0x01, 0x80, 0x00, 0x00, 0x00}},
        {"integer 5", [](zk::DSTR* d) { zk::dstr_add_integer(d, 5); }, {0x0E, 0x05}},
        {"integer 0", [](zk::DSTR* d) { zk::dstr_add_integer(d, 0); }, {0x0E, 0x00}},
        {"integer 128", [](zk::DSTR* d) { zk::dstr_add_integer(d, 128); }, {0x01, 0x00, 0x00, 0x00, 0x80}},
        {"integer 2^31-1", [](zk::DSTR* d) { zk::dstr_add_integer(d, INT32_MAX); }, {0x01, 0x7F, 0xFF, 0xFF, 0xFF}},
        {"integer 2^31",
         [](zk::DSTR* d) { zk::dstr_add_integer(d, int64_t{1} << 31); },
         {0x10, 0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}},
        {"integer -1",
         [](zk::DSTR* d) { zk::dstr_add_integer(d, -1); },
         {0x10, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
        {"integer -5 is not short",
         [](zk::DSTR* d) { zk::dstr_add_integer(d, -5); },
         {0x10, 0xFF, 0xFF, 0xFF, 0xFB, 0xFF, 0xFF, 0xFF, 0xFF}},
        {"integer low half first",
         [](zk::DSTR* d) { zk::dstr_add_integer(d, 0x0102030405060708); },
         {0x10, 0x05, 0x06, 0x07, 0x08, 0x01, 0x02, 0x03, 0x04}},
        {"float", [](zk::DSTR* d) { zk::dstr_add_float(d, -2.75); }, float_bytes(-2.75)},
        {"null", [](zk::DSTR* d) { zk::dstr_add_null(d); }, {0x04}},
        {"ptr", [](zk::DSTR* d) { zk::dstr_add_ptr(d, 0x7B, 0x01020304); }, {0x7B, 0x01, 0x02, 0x03, 0x04}},
        {"id", [](zk::DSTR* d) { zk::dstr_add_id(d, 0x2AB); }, {0x85, 0xAB}},
        {"int24", [](zk::DSTR* d) { zk::dstr_add_int24(d, 0x123456); }, {0x12, 0x34, 0x56}},
        {"int32", [](zk::DSTR* d) { zk::dstr_add_int32(d, 0x12345678); }, {0x12, 0x34, 0x56, 0x78}},
        {"int64",
         [](zk::DSTR* d) { zk::dstr_add_int64(d, 0x0102030405060708); },
         {0x05, 0x06, 0x07, 0x08, 0x01, 0x02, 0x03, 0x04}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        zk::DSTR dstr;
        zk::dstr_init(&dstr, 4);
        zk::dstr_add_char(&dstr, '<');
        c.append(&dstr);
        ASSERT_GE(dstr.dl_len, 1);
        EXPECT_EQ(dstr.dl_buf[0], '<') << "what came before is kept";
        EXPECT_EQ(Bytes(dstr.dl_buf + 1, dstr.dl_buf + dstr.dl_len), c.expected);
        zk::dstr_free(&dstr);
    }
}

TEST(DstrTags, AddIntReturnsTheBytesAppended) {
    zk::DSTR dstr;
    zk::dstr_init(&dstr, 16);
    EXPECT_EQ(zk::dstr_add_int(&dstr, 127), 2);
    EXPECT_EQ(zk::dstr_add_int(&dstr, -128), 5);
    EXPECT_EQ(dstr.dl_len, 7);
    zk::dstr_free(&dstr);
}

struct EscapeCase {
    std::string input;
    std::string expected;
};

TEST(DstrCstring, EscapesEveryByteClass) {
    const std::vector<EscapeCase> cases = {
        {"a", "a"},
        {" ", " "},
        {"~", "~"},
        {"\x7f", "\x7f"},
        {"\"", "\\\""},
        {"\\", "\\\\"},
        {std::string(1, '\0'), "\\000"},
        {"\n", "\\n"},
        {"\t", "\\t"},
        {"\r", "\\r"},
        {"\f", "\\f"},
        {"\b", "\\b"},
        {"\x01", "\\x01"},
        {"\x07", "\\x07"},
        {"\x0b", "\\x0b"},
        {"\x1f", "\\x1f"},
        {"\x80", "\\x80"},
        {"\xe9", "\\xe9"},
        {"\xff", "\\xff"},
        {std::string("a\"\0\n\x01", 5), std::string("a\\\"\\000\\n\\x01")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected);
        zk::DSTR dstr;
        zk::dstr_init(&dstr, 8);
        zk::dstr_add_cstring(&dstr, c.input.data(), static_cast<int>(c.input.size()));
        EXPECT_EQ(std::string(dstr.dl_buf, dstr.dl_buf + dstr.dl_len), c.expected);
        zk::dstr_free(&dstr);
    }
}

TEST(DstrCstring, NoCountAppendsNothing) {
    for (int n : {0, -1}) {
        zk::DSTR dstr;
        zk::dstr_init(&dstr, 8);
        zk::dstr_add_cstring(&dstr, "abc", n);
        EXPECT_EQ(dstr.dl_len, 0);
        EXPECT_EQ(dstr.dl_size, 8);
        zk::dstr_free(&dstr);
    }
}

TEST(DstrEdit, RemoveDropsTheFront) {
    struct Case {
        int n;
        std::string expected;
    };
    for (const Case& c : std::vector<Case>{{0, "abcdef"}, {2, "cdef"}, {5, "f"}, {6, ""}, {9, ""}}) {
        SCOPED_TRACE(c.n);
        zk::DSTR dstr;
        zk::dstr_init(&dstr, 32);
        zk::dstr_add_string(&dstr, "abcdef", 6);
        zk::dstr_remove(&dstr, c.n);
        EXPECT_EQ(std::string(dstr.dl_buf, dstr.dl_buf + dstr.dl_len), c.expected);
        EXPECT_EQ(dstr.dl_size, 32);
        zk::dstr_free(&dstr);
    }
}

TEST(DstrEdit, ResizeWithoutBufferGivesZeroedBlock) {
    zk::DSTR dstr{nullptr, 0, 0};
    zk::dstr_resize(&dstr, 16);
    ASSERT_NE(dstr.dl_buf, nullptr);
    EXPECT_EQ(dstr.dl_size, 16);
    EXPECT_EQ(dstr.dl_len, 0);
    EXPECT_EQ(Bytes(dstr.dl_buf, dstr.dl_buf + 16), Bytes(16, 0));
    zk::dstr_free(&dstr);
}

TEST(DstrEdit, ResizeKeepsContentAndZeroesTheTail) {
    zk::DSTR dstr = patterned(8, 8);
    zk::dstr_resize(&dstr, 20);
    EXPECT_EQ(dstr.dl_size, 20);
    EXPECT_EQ(dstr.dl_len, 8);
    Bytes expected = pattern(8);
    expected.resize(20, 0);
    EXPECT_EQ(Bytes(dstr.dl_buf, dstr.dl_buf + 20), expected);

    unsigned char* const buffer = dstr.dl_buf;
    zk::dstr_resize(&dstr, 12);
    EXPECT_EQ(dstr.dl_size, 20) << "resize never shrinks";
    EXPECT_EQ(dstr.dl_buf, buffer);
    zk::dstr_free(&dstr);
}

TEST(DstrEdit, SizeSetsTheLengthOnlyWhenGrowing) {
    zk::DSTR dstr = patterned(10, 4);
    zk::dstr_size(&dstr, 10);
    EXPECT_EQ(dstr.dl_len, 4) << "a size not above dl_size changes nothing";
    zk::dstr_size(&dstr, 3);
    EXPECT_EQ(dstr.dl_len, 4);
    EXPECT_EQ(dstr.dl_size, 10);

    zk::dstr_size(&dstr, 14);
    EXPECT_EQ(dstr.dl_size, 14);
    EXPECT_EQ(dstr.dl_len, 14);
    EXPECT_EQ(Bytes(dstr.dl_buf + 10, dstr.dl_buf + 14), Bytes(4, 0));
    EXPECT_EQ(Bytes(dstr.dl_buf, dstr.dl_buf + 4), pattern(4));
    zk::dstr_free(&dstr);
}

TEST(DstrEdit, SetSpace) {
    zk::DSTR dstr = patterned(10, 6);
    zk::dstr_set_space(&dstr, 10);
    EXPECT_EQ(dstr.dl_len, 6) << "the current size keeps content and length";
    EXPECT_EQ(content(dstr), pattern(6));

    zk::dstr_set_space(&dstr, 4);
    EXPECT_EQ(dstr.dl_size, 4) << "set_space may shrink";
    EXPECT_EQ(dstr.dl_len, 0);

    zk::dstr_set_space(&dstr, 200);
    EXPECT_EQ(dstr.dl_size, 200);
    EXPECT_EQ(dstr.dl_len, 0);

    zk::dstr_set_space(&dstr, 0);
    EXPECT_EQ(dstr.dl_size, 0);
    EXPECT_EQ(dstr.dl_len, 0);
    zk::dstr_add_char(&dstr, 'z');
    EXPECT_EQ(content(dstr), Bytes{'z'}) << "an emptied record grows again";
    zk::dstr_free(&dstr);
}

TEST(DstrEdit, SetupAdoptsABufferAsFull) {
    auto* block = static_cast<unsigned char*>(zk::chk_alloc(3));
    std::memcpy(block, "xyz", 3);
    zk::DSTR dstr;
    zk::dstr_setup(&dstr, block, 3);
    EXPECT_EQ(dstr.dl_len, 3);
    EXPECT_EQ(dstr.dl_size, 3);
    zk::dstr_add_char(&dstr, '!');
    EXPECT_EQ(content(dstr), (Bytes{'x', 'y', 'z', '!'}));
    zk::dstr_free(&dstr);
}

TEST(DstrEdit, TerminateCountsEachNul) {
    zk::DSTR dstr;
    zk::dstr_init(&dstr, 2);
    zk::dstr_add_char(&dstr, 'a');
    zk::dstr_terminate(&dstr);
    zk::dstr_terminate(&dstr);
    EXPECT_EQ(content(dstr), (Bytes{'a', 0, 0}));
    zk::dstr_free(&dstr);
}

TEST(DstrEdit, ZinitClearAndFree) {
    zk::DSTR dstr;
    zk::dstr_zinit(&dstr, 5);
    EXPECT_EQ(Bytes(dstr.dl_buf, dstr.dl_buf + 5), Bytes(5, 0));
    zk::dstr_add_string(&dstr, "ab", 2);
    zk::dstr_clear(&dstr);
    EXPECT_EQ(dstr.dl_len, 0);
    EXPECT_EQ(dstr.dl_size, 5);
    zk::dstr_free(&dstr);
    EXPECT_EQ(dstr.dl_buf, nullptr);
    EXPECT_EQ(dstr.dl_len, 0);
    EXPECT_EQ(dstr.dl_size, 5) << "free leaves dl_size as it was";
    zk::dstr_free(&dstr);
}

TEST(DstrDeathTest, SetSizeBeyondTheBufferStopsWithTheAssertion) {
    zk::DSTR dstr = patterned(10, 2);
    zk::dstr_set_size(&dstr, 10);
    EXPECT_EQ(dstr.dl_len, 10) << "up to dl_size is allowed";
    EXPECT_DEATH(zk::dstr_set_size(&dstr, 11), "string/dstr.*size <= dstr->dl_size");
    zk::dstr_free(&dstr);
}

// Growth requests of about 1.5 GB fail in the child, whose address space is
// limited to 512 MB; the record must come out of each exactly as it went in.
std::string failed_growth_changes() {
#ifndef ZKTEST_ASAN
    const rlimit limit{512u << 20, 512u << 20};
    if (::setrlimit(RLIMIT_AS, &limit) != 0) {
        return "cannot limit the address space";
    }
#endif
    constexpr int HUGE = 1500 << 20;
    const std::vector<std::pair<const char*, std::function<void(zk::DSTR*)>>> operations = {
        {"add_nchar", [](zk::DSTR* d) { zk::dstr_add_nchar(d, 'x', HUGE); }},
        {"reserve", [](zk::DSTR* d) { zk::dstr_reserve(d, HUGE); }},
        {"reserve_zero", [](zk::DSTR* d) { zk::dstr_reserve_zero(d, HUGE); }},
        {"resize", [](zk::DSTR* d) { zk::dstr_resize(d, HUGE); }},
        {"size", [](zk::DSTR* d) { zk::dstr_size(d, HUGE); }},
        {"set_space", [](zk::DSTR* d) { zk::dstr_set_space(d, HUGE); }},
        {"add_nchar beyond 2^31 bytes", [](zk::DSTR* d) { zk::dstr_add_nchar(d, 'x', INT32_MAX - 8); }},
    };
    std::string changes;
    for (const auto& [name, operation] : operations) {
        zk::DSTR dstr = patterned(16, 16);
        const zk::DSTR before = dstr;
        operation(&dstr);
        if (dstr.dl_buf != before.dl_buf || dstr.dl_size != 16 || dstr.dl_len != 16 || content(dstr) != pattern(16)) {
            changes += std::string(name) + "; ";
        }
        zk::chk_free(dstr.dl_buf);
    }
    zk::DSTR never{nullptr, 0, 0};
    zk::dstr_resize(&never, HUGE);
    if (never.dl_buf != nullptr || never.dl_size != 0) changes += "resize without a buffer; ";

    zk::DSTR fresh;
    if (zk::dstr_init(&fresh, HUGE) != nullptr || fresh.dl_size != 0 || fresh.dl_len != 0) {
        changes += "init; ";
    }
    zk::dstr_add_char(&fresh, 'k');
    if (fresh.dl_buf == nullptr || fresh.dl_len != 1) changes += "append after a failed init; ";
    zk::dstr_free(&fresh);
    return changes;
}

TEST(DstrDeathTest, FailedAllocationLeavesTheRecordUnchanged) {
    if (zktest::emulated()) GTEST_SKIP() << "qemu-user does not limit the address space";
    EXPECT_EXIT(
        {
            const std::string changes = failed_growth_changes();
            std::fprintf(stderr, "changed: [%s]\n", changes.c_str());
            std::exit(changes.empty() ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "changed: \\[\\]");
}

}  // namespace
