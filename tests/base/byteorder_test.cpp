#include <zk/zk.h>

#include <gtest/gtest.h>

TEST(ByteOrder, Put32IsBigEndian) {
    unsigned char buf[4];
    zk::LPUT32(buf, 0x12345678);
    EXPECT_EQ(buf[0], 0x12);
    EXPECT_EQ(buf[3], 0x78);
    EXPECT_EQ(zk::LGET32(buf), 0x12345678u);
}
