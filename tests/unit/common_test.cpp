#include "format.h"
#include "message_format.h"
#include "scramble.h"
#include "settings_table.h"

#include <gtest/gtest.h>

#include <string.h>

#include <set>
#include <string>

namespace {

TEST(Scramble, ShippedMainClassDescramblesAndRoundTrips)
{
    const SettingInfo* mainClass = FindSettingById(1184);
    ASSERT_NE(mainClass, nullptr);
    EXPECT_EQ(strlen(mainClass->Shipped), 22u);
    EXPECT_STREQ(DescrambleText(mainClass->Shipped), "app.Tamblor");

    char scrambled[2 * SCRAMBLE_MAX_PLAIN + 1];
    ASSERT_TRUE(ScrambleText("app.Tamblor", scrambled, sizeof(scrambled)));
    EXPECT_STREQ(scrambled, mainClass->Shipped);
}

TEST(Scramble, EverySeventeenthByteIsLeftAsItIs)
{
    // The key's last byte is zero, so byte 16 of the text is stored unchanged.
    char scrambled[64];
    ASSERT_TRUE(ScrambleText("abcdefghijklmnopq", scrambled, sizeof(scrambled)));
    EXPECT_EQ(std::string(scrambled + 32, 2), "71"); // 'q'
    EXPECT_STREQ(DescrambleText(scrambled), "abcdefghijklmnopq");
}

TEST(Scramble, OddShortLowerCaseAndOverlongTextsDecodeSafely)
{
    char scrambled[2 * SCRAMBLE_MAX_PLAIN + 1];
    ASSERT_TRUE(ScrambleText("org.acme.Demo", scrambled, sizeof(scrambled)));
    std::string odd = std::string(scrambled) + "7";
    EXPECT_STREQ(DescrambleText(odd.c_str()), "org.acme.Demo") << "a lone last digit is ignored";

    std::string lower = scrambled;
    for (char& c : lower)
        c = (char)tolower(c);
    EXPECT_STREQ(DescrambleText(lower.c_str()), "org.acme.Demo") << "lower-case digits read as hex";

    std::string broken = std::string(scrambled, 8) + "G1" + (scrambled + 10);
    EXPECT_STREQ(DescrambleText(broken.c_str()), "org.") << "decoding stops at a pair that is not hex";

    std::string plain(SCRAMBLE_MAX_PLAIN, 'x');
    ASSERT_TRUE(ScrambleText(plain.c_str(), scrambled, sizeof(scrambled)));
    std::string overlong = std::string(scrambled) + std::string(4000, 'A');
    EXPECT_EQ(std::string(DescrambleText(overlong.c_str())), plain) << "at most 255 bytes are decoded";
    EXPECT_STREQ(DescrambleText(""), "");
    EXPECT_STREQ(DescrambleText(nullptr), "");
}

TEST(Scramble, RefusesTextsThatDoNotFit)
{
    char small[8];
    EXPECT_FALSE(ScrambleText("abcd", small, sizeof(small)));
    EXPECT_STREQ(small, "");
    char large[1024];
    EXPECT_FALSE(ScrambleText(std::string(SCRAMBLE_MAX_PLAIN + 1, 'x').c_str(), large, sizeof(large)));
}

TEST(SettingTable, IdentifiersAreBlockStartsAndFieldsUnique)
{
    std::set<std::string> fields;
    int previous = 0;
    for (int i = 0; i < SettingCount; i++) {
        const SettingInfo& s = SettingTable[i];
        EXPECT_EQ(s.Id % 16, 0) << s.Field;
        EXPECT_GE(s.Id, 1024);
        EXPECT_LE(s.Id, 1872);
        EXPECT_GT(s.Id, previous) << "identifier order";
        previous = s.Id;
        EXPECT_TRUE(fields.insert(s.Field).second) << s.Field;
        EXPECT_EQ(FindSettingByField(s.Field), &s);
        EXPECT_EQ(FindSettingById(s.Id), &s);
    }
    EXPECT_EQ(SettingCount, 54);
    EXPECT_EQ(FindSettingById(1025), nullptr);
    EXPECT_EQ(FindSettingByField("mainclass"), nullptr);
}

TEST(MessageFormat, OnlyTextConversionsAreSafe)
{
    EXPECT_EQ(CountMessageArguments("Unable to load JVM: %s"), 1);
    EXPECT_EQ(CountMessageArguments("100%% sure"), 0);
    EXPECT_EQ(CountMessageArguments("%s and %s"), 2);
    EXPECT_EQ(CountMessageArguments("%d"), -1);
    EXPECT_EQ(CountMessageArguments("ends in %"), -1);
    EXPECT_EQ(CountMessageArguments("%-5s"), -1);
    EXPECT_TRUE(IsSafeMessageFormat("x %s", 1));
    EXPECT_FALSE(IsSafeMessageFormat("x %s", 0));
    EXPECT_FALSE(IsSafeMessageFormat("%s %s", 1));

    char out[32];
    ASSERT_TRUE(EscapeMessageFormat("a %d %s", out, sizeof(out)));
    EXPECT_STREQ(out, "a %%d %%s");
    EXPECT_FALSE(EscapeMessageFormat("%%%%%%%%%%%%%%%%", out, sizeof(out)));
    EXPECT_STREQ(out, "");
}

TEST(Format, CutTextIsTerminatedAndReported)
{
    char buf[8];
    EXPECT_TRUE(FormatText(buf, sizeof(buf), "%s", "1234567"));
    EXPECT_STREQ(buf, "1234567");
    EXPECT_FALSE(FormatText(buf, sizeof(buf), "%s", "12345678"));
    EXPECT_STREQ(buf, "1234567");
    MarkTextCut(buf, sizeof(buf));
    EXPECT_STREQ(buf, "1234...");
    EXPECT_TRUE(CopyText(buf, sizeof(buf), "abc"));
    EXPECT_FALSE(CopyText(buf, sizeof(buf), "abcdefghij"));
    EXPECT_STREQ(buf, "abcdefg");
}

} // namespace
