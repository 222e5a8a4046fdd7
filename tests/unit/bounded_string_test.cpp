#include <gtest/gtest.h>

#include <string.h>

#include "BoundedString.h"

TEST(BoundedString, CopyAndAppendFitExactly)
{
    char buffer[8];
    ASSERT_TRUE(BoundedCopy(buffer, sizeof(buffer), "abc"));
    ASSERT_TRUE(BoundedAppend(buffer, sizeof(buffer), "defg"));
    EXPECT_STREQ("abcdefg", buffer);
}

TEST(BoundedString, OverflowLeavesTheBufferAsItWasAndIntact)
{
    char buffer[12];
    memset(buffer, 'Z', sizeof(buffer));
    ASSERT_TRUE(BoundedCopy(buffer, 8, "abcd"));
    EXPECT_FALSE(BoundedAppend(buffer, 8, "efgh"));  // needs 9 bytes
    EXPECT_STREQ("abcd", buffer);
    EXPECT_FALSE(BoundedCopy(buffer, 8, "12345678"));
    EXPECT_STREQ("abcd", buffer);
    EXPECT_EQ('Z', buffer[8]);  // nothing written past the capacity
}

TEST(BoundedString, AppendRefusesAnUnterminatedBuffer)
{
    char buffer[4] = {'a', 'b', 'c', 'd'};
    EXPECT_FALSE(BoundedAppend(buffer, sizeof(buffer), ""));
}
