// The launcher's text rules: argument splitting, list walking, Java versions, %NAME% expansion,
// the scrambled main class and the trimming of captured output.
#include "arguments.h"
#include "capture_buffer.h"
#include "expand.h"
#include "java_version.h"
#include "scramble.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>

#include <numeric>
#include <string>
#include <vector>

namespace {

using Texts = std::vector<std::string>;

// The tokens as texts; the reserved slot 0 shows as "<null>".
Texts SplitText(const char* text, bool reserve)
{
    int count = -1;
    char** array = nullptr;
    SplitArguments(text, &count, &array, reserve);
    Texts tokens;
    for (int i = 0; i < count; i++) {
        tokens.push_back(array[i] ? array[i] : "<null>");
        free(array[i]);
    }
    free(array);
    return tokens;
}

TEST(SplitArguments, QuotingRulesWithAndWithoutTheReservedSlot)
{
    const std::string x(100000, 'x'), longText = x + " \"" + x + " y\"";
    const std::pair<const char*, Texts> cases[] = {
        {nullptr, {}}, {"", {}}, {"one two", {"one", "two"}}, {"a  b", {"a", "", "b"}}, {"a   b", {"a", "", "", "b"}},
        {"a\tb", {"a\tb"}}, {"   lead", {"lead"}}, {"trail   ", {"trail", "", ""}}, {" ", {""}}, {"\"a b\"", {"a b"}},
        {"\"\"", {""}}, {"\"", {""}}, {"-Dx=\"a b\"", {"-Dx=\"a b\""}}, {"\"ab\"cd", {"ab\"c"}},
        {"x \"open quote", {"x", "open quot"}}, {"x \"open quote ", {"x"}}, {"a \" b", {"a", " "}},
        {"C:\\path\\ \\\\server", {"C:\\path\\", "\\\\server"}}, {longText.c_str(), {x, x + " y"}},
        {"\"first\" \"second arg\" third", {"first", "second arg", "third"}},
    };
    for (const auto& [text, tokens] : cases) {
        const char* shown = text ? text : "(null)";
        EXPECT_EQ(SplitText(text, false), tokens) << "text [" << shown << "]";
        Texts reserved{"<null>"};
        reserved.insert(reserved.end(), tokens.begin(), tokens.end());
        EXPECT_EQ(SplitText(text, true), reserved) << "text [" << shown << "]";
    }
}

TEST(NextToken, WalksAListSkippingEmptyEntries)
{
    const std::pair<std::string, Texts> cases[] = {
        {"", {}}, {";;;", {}}, {"a", {"a"}}, {";a;;b;", {"a", "b"}},
        {"lib\\a.jar;C:\\x y\\b.jar", {"lib\\a.jar", "C:\\x y\\b.jar"}},
    };
    for (auto [text, expected] : cases) {
        Texts tokens;
        char* cursor = nullptr;
        while (char* token = NextToken(&text[0], ";", &cursor))
            tokens.push_back(token);
        EXPECT_EQ(tokens, expected) << text;
    }
}

// The rule of the runtime search of today, put together as the search applies it.
bool WithinLimits(const char* text, unsigned minimumWord, const char* maximum)
{
    JavaVersionNumber version, limit;
    if (!ParseJavaVersion(text, &version))
        return false;
    JavaVersionFromWord(minimumWord, &limit);
    if (CompareJavaVersions(&version, &limit) < 0)
        return false;
    return !ParseJavaVersion(maximum, &limit) || JavaVersionWithinMaximum(&version, &limit);
}

TEST(JavaVersion, SchemesLimitsAndNumericComparison)
{
    struct Case {
        const char* Text;
        std::vector<unsigned> Parts; // as parsed; empty: not a version
        unsigned Minimum;            // the JavaVersion word
        const char* Maximum;         // JavaMaxVersion
        int Order;                   // Text against Maximum, when that parses
        bool ByRegistryName, ByLimits;
    };
    const Case cases[] = {
        {"1.4.2_05", {4, 2, 5}, 0x00010004, "", 0, true, true}, {"1.3.1", {3, 1}, 0x00010004, "", 0, false, false},
        {"1.8.0_352", {8, 0, 352}, 0x00010008, "8.0.352", 0, true, true},
        {"1.8.0_352", {8, 0, 352}, 0x00010008, "8.0.351", 1, true, false},
        {"1.8_302", {8, 0, 302}, 0x00010008, "8.0.1000", -1, true, true},
        {"1.8.0.212", {8, 0, 212}, 0x00010008, "1.8.0_211", 1, true, false},
        {"8.0.392.8", {8, 0, 392, 8}, 0x00010008, "8.0.392", 1, true, true},
        {"1.9", {9}, 0x0001000A, "", 0, false, false}, {"1.10", {10}, 0x0001000A, "", 0, true, true},
        {"9", {9}, 0x000A0000, "", 0, false, false}, {"10.0.2", {10, 0, 2}, 0x00090000, "", 0, true, true},
        {"11.0.9.256", {11, 0, 9, 256}, 0x000B0000, "11.0.9", 1, true, true},
        {"17.0.9+9", {17, 0, 9}, 0x00010008, "17", 1, true, true},
        {"17.0.9+9", {17, 0, 9}, 0x00010008, "17.0.5", 1, true, false},
        {"17.0.10", {17, 0, 10}, 0x00110000, "17.0.9", 1, true, false},
        {"17", {17}, 0x00010008, "latest", 0, true, true}, {"21-ea", {21}, 0x00150000, "", 0, true, true},
        {"1", {1}, 0x00010000, "", 0, true, true},
        {"99999999999999999999", {0xFFFFFFFF}, 0xFFFF0000, "", 0, true, true},
        {"v1.8", {}, 0, "", 0, false, false}, {"", {}, 0, "", 0, false, false},
    };
    for (const Case& c : cases) {
        JavaVersionNumber v = {}, maximum;
        std::vector<unsigned> parts;
        if (ParseJavaVersion(c.Text, &v))
            parts.assign(v.Parts, v.Parts + v.Count);
        EXPECT_EQ(parts, c.Parts) << c.Text;
        if (ParseJavaVersion(c.Maximum, &maximum)) {
            int order = CompareJavaVersions(&v, &maximum);
            EXPECT_EQ((order > 0) - (order < 0), c.Order) << c.Text << " against " << c.Maximum;
        }
        EXPECT_EQ(JavaVersionAcceptable(c.Text, c.Minimum), c.ByRegistryName) << c.Text << " " << c.Minimum;
        EXPECT_EQ(WithinLimits(c.Text, c.Minimum, c.Maximum), c.ByLimits) << c.Text << " up to " << c.Maximum;
    }
}

const char* Lookup(const char* name)
{
    static const std::string quotedLong = "\"" + std::string(5000, 'v') + "\"";
    if (strcmp(name, "LONG") == 0)
        return quotedLong.c_str();
    if (strcmp(name, "QUOTED") == 0)
        return "\"C:\\with space\"";
    return strcmp(name, "java_home") == 0 ? "C:\\environment" : strcmp(name, "PLAIN") == 0 ? "plain" : nullptr;
}

TEST(ExpandVariables, DefinedUndefinedJavaHomeAndLongValues)
{
    const std::pair<const char*, std::string> cases[] = {
        {"no references", "no references"}, {"a%PLAIN%b%PLAIN%c", "aplainbplainc"},
        {"%QUOTED%\\lib", "C:\\with space\\lib"}, {"%JAVA_HOME%\\bin", "C:\\home\\bin"},
        {"%java_home%", "C:\\environment"}, {"%UNDEFINED%x", "x"}, {"100%%", "100"}, {"abc%def", "abcdef"},
        {"<%LONG%>", "<" + std::string(5000, 'v') + ">"},
    };
    for (const auto& [text, expected] : cases) {
        char* result = ExpandVariablesWith(text, "C:\\home", Lookup);
        ASSERT_NE(result, nullptr) << text;
        EXPECT_EQ(std::string(result), expected) << text;
        free(result);
    }
}

TEST(Scramble, KnownPairsAndRoundTrip)
{
    const std::pair<const char*, const char*> pairs[] = {
        {"371B447C365937135D381F", "app.Tamblor"}, // the shipped main class
        {"3919537C07403B1C413B0819200C5C35737826553B0C", "org.example.tools.Main"}, // byte 16 is kept
    };
    char scrambled[2 * 255 + 1];
    for (const auto& [stored, plain] : pairs) {
        EXPECT_STREQ(DescrambleText(stored), plain);
        ASSERT_TRUE(ScrambleText(plain, scrambled, sizeof(scrambled)));
        EXPECT_STREQ(scrambled, stored);
    }
    const char* plain = "org.example.deeply.nested.Main with bytes past the seventeen-byte key";
    ASSERT_TRUE(ScrambleText(plain, scrambled, sizeof(scrambled)));
    EXPECT_STREQ(DescrambleText(scrambled), plain);
}

// Lines "line N..." of ten characters each, numbered from to to - 1, then tail.
Texts Lines(int from, int to, const Texts& tail = {})
{
    Texts lines;
    for (int i = from; i < to; i++)
        lines.push_back(("line " + std::to_string(i) + "....").substr(0, 9) + "\n");
    lines.insert(lines.end(), tail.begin(), tail.end());
    return lines;
}

TEST(CaptureTrim, KeepsTheLastWholeLinesWithinTheLimit)
{
    const std::string wide = std::string(25, 'y') + "\n", a(1024, 'a'), z(1024, 'z');
    const std::pair<Texts, Texts> cases[] = { // pieces added, pieces kept
        {{"one\r\n", "two\r\n"}, {"one\r\n", "two\r\n"}},
        {Lines(0, 819, {"x"}), Lines(0, 819, {"x"})}, // 8191 characters still fit
        {Lines(0, 820), Lines(1, 820)},
        {Lines(0, 819, {wide}), Lines(3, 819, {wide})},
        {{"short\n", a, a, a, a, a, a, a, z}, {z}}, // no line feed to cut at: only the new piece stays
    };
    for (const auto& [pieces, kept] : cases) {
        const std::string expected = std::accumulate(kept.begin(), kept.end(), std::string());
        char text[CAPTURE_BUFFER_SIZE] = "";
        int length = 0;
        for (const std::string& piece : pieces)
            AddCapturedPiece(text, &length, piece.data(), (int)piece.size());
        EXPECT_EQ(std::string(text), expected);
        EXPECT_EQ(length, (int)expected.size());
    }
}

} // namespace
