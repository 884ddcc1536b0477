// The launcher's text rules: argument splitting, Java versions, %NAME% expansion,
// the scrambled main class, the trimming of captured output and the runtime's C library by name.
#include "arguments.h"
#include "capture_buffer.h"
#include "expand.h"
#include "java_version.h"
#include "jvm.h"
#include "launch_log.h"
#include "scramble.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

using Texts = std::vector<std::string>;

// The tokens as texts, without the reserved slot 0 (which must be there and null). Wide splitting is
// given the text widened unit for unit and its tokens narrowed the same way.
template <typename Char> static Texts SplitText(const char* text, bool reserve)
{
    std::basic_string<Char> widened = text ? std::basic_string<Char>(text, text + strlen(text)) : std::basic_string<Char>();
    int count = -1;
    Char** array = nullptr;
    SplitArguments(text ? widened.c_str() : nullptr, &count, &array, reserve);
    EXPECT_TRUE(count >= reserve && (!reserve || array[0] == nullptr)) << "no empty slot 0";
    Texts tokens;
    for (int i = reserve; i < count; free(array[i++]))
        tokens.push_back(array[i] ? std::string(array[i], array[i] + std::char_traits<Char>::length(array[i])) : "<null>");
    free(array);
    return tokens;
}

TEST(SplitArguments, QuotingRulesWithAndWithoutTheReservedSlot)
{
    const std::pair<const char*, Texts> cases[] = {
        {nullptr, {}}, {"", {}}, {"one two", {"one", "two"}}, {"a  b", {"a", "b"}}, {"a\tb", {"a\tb"}},
        {"   lead", {"lead"}}, {"trail   ", {"trail"}}, {"  ", {}}, {"\"a b\"", {"a b"}}, {"x \"\"  \"\"", {"x", "", ""}},
        {"\"", {""}}, {"-Dx=\"a b\"", {"-Dx=\"a b\""}}, {"\"ab\"cd", {"ab\"c"}}, {"x \"open quote ", {"x", "open quote"}},
        {"x \"open quote", {"x", "open quot"}}, {"C:\\path\\ \\\\server", {"C:\\path\\", "\\\\server"}},
    };
    for (const auto& [text, tokens] : cases) {
        for (bool reserve : {false, true}) {
            EXPECT_EQ(SplitText<char>(text, reserve), tokens) << "text [" << text << "] " << reserve; // null: (null)
            EXPECT_EQ(SplitText<wchar_t>(text, reserve), tokens) << "wide text [" << text << "] " << reserve;
        }
    }
    // UTF-16 units outside the rules pass as they are: a pair beyond the BMP, a lone surrogate, and units
    // whose low byte is a blank or a quote.
    int count = 0;
    wchar_t** array = nullptr;
    SplitArguments(L"\"\u03A9 \U0001F310\" \xD800x\u0120\u4E22", &count, &array, false);
    EXPECT_TRUE(count == 2 && std::wstring(array[0]) == L"\u03A9 \U0001F310" && std::wstring(array[1]) == L"\xD800x\u0120\u4E22");
}

// The rule of the runtime search of today, put together as the search applies it.
static bool WithinLimits(const char* text, const char* minimumText, const char* maximum)
{
    JavaVersionNumber version, minimum = {{0}, 1}, top;
    ReadJavaVersionSetting(minimumText, &minimum);
    return ParseJavaVersion(text, &version) && CompareJavaVersions(&version, &minimum) >= 0 &&
           (!ReadJavaVersionSetting(maximum, &top) || JavaVersionWithinMaximum(&version, &top));
}

// Minimum and maximum in every form a setting takes: versions, "0x" words, the unprefixed words older builds stored.
TEST(JavaVersion, SchemesLimitsAndNumericComparison)
{
    struct Case {
        const char* Text;
        std::vector<unsigned> Parts; // as parsed; empty: not a version
        const char* Minimum;         // JavaVersion
        const char* Maximum;         // JavaMaxVersion
        int Order;                   // Text against Maximum, when that reads
        bool ByRegistryName, ByLimits;
    };
    const Case cases[] = {
        {"1.4.2_05", {4, 2, 5}, "0x00010004", "", 0, true, true}, {"1.3.1", {3, 1}, "0x00010004", "", 0, false, false},
        {"1.8.0_352", {8, 0, 352}, "1.8", "8.0.352", 0, true, true},
        {"1.8_302", {8, 0, 302}, "0X00010008", "8.0.1000", -1, true, true},
        {"1.8.0.212", {8, 0, 212}, "8", "1.8.0_211", 1, true, false},
        {"1.9", {9}, "0x0001000A", "", 0, false, false}, {"1.10", {10}, "10", "", 0, true, true},
        {"9", {9}, "0x000A0000", "", 0, false, false}, {"10.0.2", {10, 0, 2}, "0x00090000", "", 0, true, true},
        {"11.0.9.256", {11, 0, 9, 256}, "11.0.2", "11.0.9", 1, true, true},
        {"11.0.2", {11, 0, 2}, "00110000", "0x00110000", -1, false, false},
        {"17.0.9+9", {17, 0, 9}, "17", "17.0.5", 1, true, false},
        {"17", {17}, "21.0.1+12", "latest", 0, false, false}, {"1", {1}, "", "0xZ", 0, true, true},
        {"99999999999999999999", {0xFFFFFFFF}, "0xFFFF0000", "", 0, true, true}, {"v1.8", {}, "0", "", 0, false, false},
    };
    for (const Case& c : cases) {
        JavaVersionNumber v, maximum, minimum = {{0}, 1};
        EXPECT_EQ(ParseJavaVersion(c.Text, &v), !c.Parts.empty()) << c.Text;
        EXPECT_EQ(std::vector<unsigned>(v.Parts, v.Parts + v.Count), c.Parts) << c.Text;
        if (ReadJavaVersionSetting(c.Maximum, &maximum)) {
            int order = CompareJavaVersions(&v, &maximum);
            EXPECT_EQ((order > 0) - (order < 0), c.Order) << c.Text << " against " << c.Maximum;
        }
        ReadJavaVersionSetting(c.Minimum, &minimum);
        EXPECT_EQ(JavaVersionAtLeast(c.Text, &minimum), c.ByRegistryName) << c.Text << " " << c.Minimum;
        EXPECT_EQ(WithinLimits(c.Text, c.Minimum, c.Maximum), c.ByLimits) << c.Text << " up to " << c.Maximum;
    }
}

TEST(ExpandVariables, DefinedUndefinedJavaHomeAndLongValues)
{
    static const std::map<std::string, std::string> variables = {
        {"PLAIN", "plain"}, {"QUOTED", "\"C:\\with space\""}, {"java_home", "C:\\environment"},
        {"LONG", "\"" + std::string(5000, 'v') + "\""}};
    const std::pair<const char*, std::string> cases[] = {
        {"a%PLAIN%b%PLAIN%c", "aplainbplainc"}, {"%QUOTED%\\lib", "C:\\with space\\lib"},
        {"%JAVA_HOME%\\bin", "C:\\home\\bin"}, {"%java_home%", "C:\\environment"}, {"%UNDEFINED%x", "x"},
        {"100%%", "100"}, {"abc%def", "abcdef"}, {"<%LONG%>", "<" + std::string(5000, 'v') + ">"},
    };
    for (const auto& [text, expected] : cases) {
        char* result = ExpandVariablesWith(text, "C:\\home", [](const char* name) {
            auto found = variables.find(name);
            return found == variables.end() ? nullptr : found->second.c_str();
        });
        EXPECT_STREQ(result, expected.c_str()) << text;
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
}

// Lines "line N...." of ten characters each, numbered from to to - 1.
static std::string Lines(int from, int to)
{
    std::string lines;
    for (int i = from; i < to; i++)
        lines += ("line " + std::to_string(i) + "....").substr(0, 9) + "\n";
    return lines;
}

TEST(CaptureTrim, KeepsTheLastWholeLinesWithinTheLimit)
{
    const std::string wide = std::string(25, 'y') + "\n", a(1024, 'a'), z(1024, 'z');
    const std::pair<Texts, std::string> cases[] = { // the reads, split into lines, and the text kept
        {{Lines(0, 819) + "x"}, Lines(0, 819) + "x"}, {{Lines(0, 819) + "xy"}, Lines(1, 819) + "xy"}, // 8191 fit
        {{Lines(0, 820)}, Lines(1, 820)}, {{Lines(0, 819) + wide}, Lines(3, 819) + wide},
        {{"short\n", a, a, a, a, a, a, a, z}, z}, // no line feed to cut at: only the new piece stays
    };
    for (const auto& [reads, kept] : cases) {
        char text[CAPTURE_BUFFER_SIZE] = "";
        int length = 0;
        for (const std::string& read : reads)
            AddCapturedLines(text, &length, read.data(), (int)read.size());
        EXPECT_EQ(std::string(text), kept);
        EXPECT_EQ(length, (int)kept.size());
    }
}

TEST(RuntimeOutput, TheRuntimesOwnCLibraryIsChosenOverOthersItImports)
{
    const std::pair<std::vector<const char*>, int> rows[] = {
        {{"KERNEL32.dll", "msvcrt.dll", "api-ms-win-crt-stdio-l1-1-0.dll", "VCRUNTIME140.dll"}, 2},
        {{"msvcrt.dll", "MSVCR100.dll"}, 1}, {{"MSVCR100.dll", "msvcr120.dll"}, 1}, {{"ucrtbase.dll", "msvcr120.dll"}, 0},
        {{"api-ms-win-crt-runtime-l1-1-0.dll", "MSVCRT.DLL"}, 0}, {{"KERNEL32.dll", "USER32.dll"}, -1}, {{}, -1},
    };
    for (const auto& row : rows)
        EXPECT_EQ(ChooseRuntimeCLibrary(row.first.data(), (int)row.first.size()), row.second) << row.second;
}

TEST(ShownOptionLength, OnlyTheValueOfADefineNamingAPasswordOrSecretIsHidden)
{
    const struct { const char* Option; const char* Shown; } cases[] = {
        {"-Ddb.Password=hunter2", "-Ddb.Password="}, {"-DAPI_SECRET=a=b", "-DAPI_SECRET="},
        {"-Dpass=password", "-Dpass=password"}, {"-Dpassword", "-Dpassword"}, {"-XX:secret=1", "-XX:secret=1"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(std::string(c.Option, ShownOptionLength(c.Option)), c.Shown) << c.Option;
}
