// The pure parts of the Java hosting: the runtime version rule, %NAME% expansion, GrowableString.
#include "expand.h"
#include "growable.h"
#include "java_version.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>

#include <string>

namespace {

TEST(JavaVersion, NamesAreComparedNumerically)
{
    struct Case {
        const char* Name;
        unsigned Minimum;
        bool Accepted;
    };
    const Case cases[] = {
        {"1.4", 0x00010004, true},      {"1.4.2_05", 0x00010004, true}, {"1.5.0", 0x00010004, true},
        {"1.3.1", 0x00010004, false},   {"2.0", 0x00010004, true},      {"2", 0x00010004, true},
        {"1", 0x00010004, false},       {"1", 0x00010000, true},        {"1.", 0x00010000, true},
        {"", 0x00000000, false},        {"abc", 0x00000000, false},     {"v1.8", 0x00010004, false},
        {".8", 0x00000000, false},      {"17", 0x00010008, true},       {"1.10", 0x00010009, true},
        {"1.10", 0x0001000A, true},     {"1.9", 0x0001000A, false},     {"9", 0x000A0000, false},
        {"10.0.2", 0x00090000, true},   {"11", 0x000B0000, true},       {"99999999999999999999", 0xFFFF0000, true},
        {"0.9", 0x00010000, false},     {"1.4x", 0x00010004, true},     {"1-4", 0x00010004, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(JavaVersionAcceptable(c.Name, c.Minimum), c.Accepted) << c.Name << " against " << std::hex << c.Minimum;
}

TEST(JavaVersion, ShortNamesAreNeverReadPastTheirEnd)
{
    // The name sits at the very end of a buffer: reading past it would read a digit.
    char buffer[4] = {'7', '7', '1', 0};
    EXPECT_TRUE(JavaVersionAcceptable(buffer + 2, 0x00010000));
    EXPECT_FALSE(JavaVersionAcceptable(buffer + 2, 0x00010001));
}

const char* TestLookup(const char* name)
{
    if (strcmp(name, "PLAIN") == 0)
        return "plain";
    if (strcmp(name, "QUOTED") == 0)
        return "\"C:\\with space\"";
    if (strcmp(name, "QUOTE") == 0)
        return "\"";
    if (strcmp(name, "OPENING") == 0)
        return "\"open";
    if (strcmp(name, "JAVA_HOME") == 0 || strcmp(name, "java_home") == 0)
        return "C:\\environment";
    return NULL;
}

TEST(ExpandVariables, ReferencesFollowTheirRules)
{
    const std::pair<const char*, const char*> cases[] = {
        {"", ""},
        {"no references", "no references"},
        {"%PLAIN%", "plain"},
        {"a%PLAIN%b%PLAIN%c", "aplainbplainc"},
        {"%QUOTED%\\lib", "C:\\with space\\lib"},
        {"[%QUOTE%]", "[]"},
        {"[%OPENING%]", "[open]"},
        {"%JAVA_HOME%\\bin", "C:\\home\\bin"},
        {"%java_home%", "C:\\environment"},
        {"%Java_Home%", ""},
        {"abc%def", "abcdef"},
        {"100%%", "100"},
        {"%%%PLAIN%", "plain"},
        {"%UNDEFINED%x", "x"},
        {"%", ""},
    };
    for (const auto& [text, expected] : cases) {
        char* result = ExpandVariablesWith(text, "C:\\home", TestLookup);
        ASSERT_NE(result, nullptr) << text;
        EXPECT_STREQ(result, expected) << text;
        free(result);
    }
}

TEST(ExpandVariables, LongValuesAreTakenWhole)
{
    std::string value(5000, 'v');
    static std::string stored;
    stored = "\"" + value + "\"";
    char* result = ExpandVariablesWith("<%LONG%>", "", [](const char*) -> const char* { return stored.c_str(); });
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(std::string(result), "<" + value + ">");
    free(result);
}

TEST(GrowableString, GrowsAsSpecifiedAndIgnoresEmptyAppends)
{
    GrowableString string = {};
    EXPECT_TRUE(AppendText(&string, NULL));
    EXPECT_TRUE(AppendText(&string, ""));
    EXPECT_EQ(string.text, nullptr) << "nothing is allocated for empty appends";
    ASSERT_TRUE(AppendText(&string, "abc"));
    EXPECT_EQ(string.capacity, 1024u);
    EXPECT_EQ(string.length, 3u);
    std::string big(1020, 'x');
    ASSERT_TRUE(AppendText(&string, big.c_str()));
    EXPECT_EQ(string.capacity, 1024u) << "1023 characters and the terminator still fit";
    ASSERT_TRUE(AppendText(&string, std::string(2020, 'y').c_str()));
    EXPECT_EQ(string.capacity, 1024u + 8080u) << "grown by 4 x the appended length";
    ASSERT_TRUE(AppendText(&string, std::string(9103 - 3043, 'w').c_str()));
    EXPECT_EQ(string.capacity, 9104u) << "filled to the last byte before the terminator";
    ASSERT_TRUE(AppendText(&string, "z"));
    EXPECT_EQ(string.capacity, 10128u) << "a small append grows by 1024";
    EXPECT_EQ(string.length, 9104u);
    EXPECT_EQ(std::string(string.text), "abc" + big + std::string(2020, 'y') + std::string(6060, 'w') + "z");
    FreeGrowableString(&string);
    EXPECT_EQ(string.text, nullptr);

    GrowableString large = {};
    ASSERT_TRUE(AppendText(&large, std::string(300, 'q').c_str()));
    EXPECT_EQ(large.capacity, 1200u) << "the first allocation is 4 x the length when that is more than 1024";
    FreeGrowableString(&large);
}

} // namespace
