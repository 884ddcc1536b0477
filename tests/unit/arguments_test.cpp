#include "arguments.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

namespace {

struct Split {
    int Count;
    std::vector<std::string> Tokens; // slot 0 of a reserved vector shows as "<null>"
};

Split SplitText(const char* text, bool reserve)
{
    int count = -1;
    char** array = reinterpret_cast<char**>(1);
    SplitArguments(text, &count, &array, reserve);
    Split result{count, {}};
    if (count == 0) {
        EXPECT_EQ(array, nullptr);
    }
    for (int i = 0; i < count; i++) {
        result.Tokens.push_back(array[i] ? array[i] : "<null>");
        free(array[i]);
    }
    free(array);
    return result;
}

struct SplitCase {
    const char* Text;
    std::vector<std::string> Tokens;
};

const SplitCase SplitCases[] = {
    {"a", {"a"}},
    {"one two", {"one", "two"}},
    {"a  b", {"a", "", "b"}},
    {"a   b", {"a", "", "", "b"}},
    {"a\tb", {"a\tb"}},
    {"   lead", {"lead"}},
    {"trail ", {"trail"}},
    {"trail   ", {"trail", "", ""}},
    {"   ", {""}},
    {" ", {""}},
    {"\"a b\"", {"a b"}},
    {"\"\"", {""}},
    {"-Dx=\"a b\"", {"-Dx=\"a b\""}},
    {"\"ab\"cd", {"ab\"c"}},
    {"x \"open quote", {"x", "open quot"}},
    {"x \"open quote ", {"x"}},
    {"\"", {""}},
    {"a \" b", {"a", " "}},
    {"C:\\path\\ \\\\server", {"C:\\path\\", "\\\\server"}},
    {"\"first\" \"second arg\" third", {"first", "second arg", "third"}},
};

TEST(SplitArguments, FollowsTheLaunchersQuotingRules)
{
    for (const SplitCase& c : SplitCases) {
        Split split = SplitText(c.Text, false);
        EXPECT_EQ(split.Tokens, c.Tokens) << "text [" << c.Text << "]";
        EXPECT_EQ(split.Count, (int)c.Tokens.size()) << "text [" << c.Text << "]";
    }
}

TEST(SplitArguments, ReservedSlotStaysEmptyAndIsCounted)
{
    for (const SplitCase& c : SplitCases) {
        Split split = SplitText(c.Text, true);
        std::vector<std::string> expected{"<null>"};
        expected.insert(expected.end(), c.Tokens.begin(), c.Tokens.end());
        EXPECT_EQ(split.Tokens, expected) << "text [" << c.Text << "]";
    }
}

TEST(SplitArguments, NullAndEmptyTextGiveNoTokens)
{
    EXPECT_EQ(SplitText(nullptr, false).Count, 0);
    EXPECT_EQ(SplitText("", false).Count, 0);
    Split reserved = SplitText(nullptr, true);
    EXPECT_EQ(reserved.Count, 1);
    EXPECT_EQ(reserved.Tokens, std::vector<std::string>{"<null>"});
    EXPECT_EQ(SplitText("", true).Count, 1);
}

TEST(SplitArguments, VeryLongTokensAndManyTokensAreKeptWhole)
{
    std::string longToken(100000, 'x');
    std::string text = longToken + " \"" + longToken + " y\"";
    Split split = SplitText(text.c_str(), false);
    ASSERT_EQ(split.Count, 2);
    EXPECT_EQ(split.Tokens[0], longToken);
    EXPECT_EQ(split.Tokens[1], longToken + " y");

    std::string many;
    for (int i = 0; i < 20000; i++)
        many += "t" + std::to_string(i) + " ";
    Split manySplit = SplitText(many.c_str(), false);
    ASSERT_EQ(manySplit.Count, 20000);
    EXPECT_EQ(manySplit.Tokens[19999], "t19999");
}

std::vector<std::string> Walk(std::string text)
{
    std::vector<std::string> tokens;
    char* cursor = nullptr;
    while (char* token = NextToken(&text[0], ";", &cursor))
        tokens.push_back(token);
    EXPECT_EQ(cursor, nullptr);
    return tokens;
}

TEST(NextToken, SkipsEmptyEntriesAndCutsInPlace)
{
    EXPECT_EQ(Walk(";a;;b;"), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(Walk("a"), (std::vector<std::string>{"a"}));
    EXPECT_EQ(Walk("lib\\a.jar;C:\\x y\\b.jar"), (std::vector<std::string>{"lib\\a.jar", "C:\\x y\\b.jar"}));
    EXPECT_TRUE(Walk(";;;").empty());
    EXPECT_TRUE(Walk("").empty());

    char text[] = "a;b";
    char* cursor = nullptr;
    ASSERT_STREQ(NextToken(text, ";", &cursor), "a");
    EXPECT_EQ(text[1], '\0') << "the delimiter ending a token is overwritten";
}

TEST(NextToken, NullTextEndsAtOnce)
{
    char* cursor = reinterpret_cast<char*>(1);
    EXPECT_EQ(NextToken(nullptr, ";", &cursor), nullptr);
    EXPECT_EQ(cursor, nullptr);
}

TEST(NextToken, StartsOverAfterTheEnd)
{
    char text[] = "a;b";
    char* cursor = nullptr;
    while (NextToken(text, ";", &cursor) != nullptr) {
    }
    // The text is now cut after its first token, so a new walk sees only that one.
    EXPECT_STREQ(NextToken(text, ";", &cursor), "a");
}

} // namespace
