// The growable text that collects the class path of the extracted files.
#include "growable_string.h"

#include <gtest/gtest.h>

#include <string>

TEST(GrowableString, FirstAppendAllocatesAtLeast1024ZeroFilledBytes)
{
    GrowableString s = {};
    EXPECT_TRUE(AppendGrowableString(&s, nullptr));
    EXPECT_TRUE(AppendGrowableString(&s, ""));
    EXPECT_EQ(s.Text, nullptr) << "null and empty texts change nothing";
    ASSERT_TRUE(AppendGrowableString(&s, "abc"));
    EXPECT_STREQ(s.Text, "abc");
    EXPECT_EQ(s.Length, 3);
    EXPECT_EQ(s.Capacity, 1024);
    EXPECT_EQ(std::string(s.Text + 3, 1021), std::string(1021, '\0'));
    FreeGrowableString(&s);
    ASSERT_TRUE(AppendGrowableString(&s, std::string(300, 'x').c_str()));
    EXPECT_EQ(s.Capacity, 1200) << "4 x the appended length when that is more than 1024";
    FreeGrowableString(&s);
    EXPECT_EQ(s.Text, nullptr);
}

TEST(GrowableString, GrowsOnlyWhenTheTextWouldNotFit)
{
    GrowableString s = {};
    std::string expected;
    ASSERT_TRUE(AppendGrowableString(&s, std::string(200, 'a').c_str()));
    ASSERT_TRUE(AppendGrowableString(&s, std::string(823, 'b').c_str()));
    EXPECT_EQ(s.Capacity, 1024) << "1023 characters and the NUL fit exactly";
    ASSERT_TRUE(AppendGrowableString(&s, "c"));
    EXPECT_EQ(s.Capacity, 2048) << "grown by 1024";
    ASSERT_TRUE(AppendGrowableString(&s, std::string(5000, 'd').c_str()));
    EXPECT_EQ(s.Capacity, 2048 + 20000);
    expected = std::string(200, 'a') + std::string(823, 'b') + "c" + std::string(5000, 'd');
    EXPECT_EQ(std::string(s.Text), expected);
    EXPECT_EQ(s.Length, (int)expected.size());
    FreeGrowableString(&s);
}
