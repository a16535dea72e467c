#include <gtest/gtest.h>
#include <cstring>
#include "kelp/mem.h"

TEST(Mem, ZeroedAllocationAndRealloc)
{
    unsigned char *p = (unsigned char *)RTMemAllocZ(100);
    ASSERT_NE(p, nullptr);
    for (int i = 0; i < 100; i++)
        EXPECT_EQ(p[i], 0);
    memset(p, 0xAB, 100);
    p = (unsigned char *)RTMemRealloc(p, 100000);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p[99], 0xAB);
    EXPECT_EQ(RTMemRealloc(p, 0), nullptr);
}
