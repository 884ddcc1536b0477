// Reading configs: what each key becomes in the string table, and the one-line errors for
// configs the builder must refuse.
#include "config.h"
#include "scramble.h"
#include "search_order.h"
#include "test_support.h"
#include "text.h"

#include <gtest/gtest.h>

namespace {

BuildPlan Plan(const std::string& text)
{
    return InterpretConfig(ParseIni(text, "app.ini"));
}

std::string Utf8(const std::u16string& text)
{
    return Utf16ToUtf8(text);
}

} // namespace

TEST(Text, CodePage1252GivesTheBytesLoadStringAReturns)
{
    std::u16string text;
    ASSERT_TRUE(Utf8ToUtf16("Caf\xC3\xA9 \xE2\x82\xAC \xE2\x80\x9Cq\xE2\x80\x9D", text));
    std::string bytes, bad;
    ASSERT_TRUE(EncodeCodePage(text, 1252, bytes, &bad));
    EXPECT_EQ(bytes, "Caf\xE9 \x80 \x93q\x94");
    EXPECT_EQ(DecodeCodePage(bytes, 1252), text);
}

TEST(Text, OtherWindowsCodePagesGiveTheirOwnBytes)
{
    struct Case { const char* utf8; unsigned codePage; const char* bytes; };
    for (const Case& c : {Case{"\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82", 1251, "\xCF\xF0\xE8\xE2\xE5\xF2"},
                          Case{"\xC5\x81\xC3\xB3" "d\xC5\xBA", 1250, "\xA3\xF3\x64\x9F"},
                          Case{"\xCE\xA9\xCE\xB1", 1253, "\xD9\xE1"},
                          Case{"\xC4\x9F\xC5\x9F", 1254, "\xF0\xFE"}}) {
        std::u16string text;
        std::string bytes, bad;
        ASSERT_TRUE(Utf8ToUtf16(c.utf8, text));
        ASSERT_TRUE(EncodeCodePage(text, c.codePage, bytes, &bad)) << c.codePage << ": " << bad;
        EXPECT_EQ(bytes, c.bytes) << c.codePage;
        EXPECT_EQ(DecodeCodePage(bytes, c.codePage), text) << c.codePage;
        EXPECT_FALSE(EncodeCodePage(text, 20127, bytes, &bad)) << "ASCII has none of them";
    }
    EXPECT_TRUE(IsKnownCodePage(1251));
    EXPECT_FALSE(IsKnownCodePage(932)) << "double-byte code pages are not supported";
    EXPECT_FALSE(IsKnownCodePage(1249));
}

TEST(Text, CharactersOutsideTheCodePageAreRefusedNotReplaced)
{
    struct Case { const char* utf8; unsigned codePage; const char* bad; };
    for (const Case& c : {Case{"Omega \xCE\xA9", 1252, "\xCE\xA9"}, Case{"\xE2\x82\xAC", 28591, "\xE2\x82\xAC"},
                          Case{"caf\xC3\xA9", 20127, "\xC3\xA9"}, Case{"\xE6\x97\xA5", 1252, "\xE6\x97\xA5"}}) {
        std::u16string text;
        std::string bytes, bad;
        ASSERT_TRUE(Utf8ToUtf16(c.utf8, text));
        EXPECT_FALSE(EncodeCodePage(text, c.codePage, bytes, &bad)) << c.utf8;
        EXPECT_EQ(bad, c.bad);
    }
    std::u16string text;
    std::string bytes;
    ASSERT_TRUE(Utf8ToUtf16("\xE6\x97\xA5\xF0\x9F\x98\x80", text));
    EXPECT_EQ(text.size(), 3u); // a surrogate pair counts two units
    EXPECT_TRUE(EncodeCodePage(text, 65001, bytes, nullptr));
    EXPECT_EQ(bytes, "\xE6\x97\xA5\xF0\x9F\x98\x80");
}

TEST(Text, InvalidUtf8IsRefused)
{
    std::u16string out;
    for (const char* bad : {"\xC3", "\xC0\xAF", "\xED\xA0\x80", "\xFF", "a\x80"})
        EXPECT_FALSE(Utf8ToUtf16(bad, out)) << Hex(bad);
}

TEST(Config, SettingsBecomeTheTextsTheLauncherReads)
{
    BuildPlan plan = Plan("[launcher]\nMainClass = org.acme.Demo\nStdoutMode = 2\n"
                          "AllowMultipleInstances = yes\nServiceInteractive = off\n"
                          "JavaVersion = 0x00010008\nClassPath = \" a.jar;b.jar \"\n"
                          "[messages]\n1536 = Demo is already open.\nMsgLoadJvm = No JVM: %s (100%%)\n");
    char scrambled[64];
    ASSERT_TRUE(ScrambleText("org.acme.Demo", scrambled, sizeof(scrambled)));
    EXPECT_EQ(Utf8(plan.Settings.at(1184).Text), scrambled);
    EXPECT_STREQ(DescrambleText(Utf8(plan.Settings.at(1184).Text).c_str()), "org.acme.Demo");
    EXPECT_EQ(Utf8(plan.Settings.at(1392).Text), "2");
    EXPECT_EQ(Utf8(plan.Settings.at(1376).Text), "1");
    EXPECT_EQ(Utf8(plan.Settings.at(1360).Text), "0");
    EXPECT_EQ(Utf8(plan.Settings.at(1024).Text), "0x00010008");
    EXPECT_EQ(Utf8(plan.Settings.at(1072).Text), " a.jar;b.jar ");
    EXPECT_EQ(Utf8(plan.Settings.at(1536).Text), "Demo is already open.");
    EXPECT_EQ(plan.Settings.at(1600).Line, 10);
    EXPECT_EQ(plan.Settings.size(), 9u); // with the default search order
}

TEST(Config, WithoutJreSearchOrderTheModernOrderIsWritten)
{
    EXPECT_EQ(Utf8(Plan("[launcher]\nMainClass = a.B\n").Settings.at(1104).Text), "B0EJV");
    EXPECT_EQ(Utf8(Plan("[launcher]\nMainClass = a.B\nJreSearchOrder = 01234\n").Settings.at(1104).Text), "01234");
    EXPECT_EQ(Utf8(Plan("[launcher]\nJreSearchOrder =\n").Settings.at(1104).Text), "") << "empty stays empty";
    EXPECT_EQ(Utf8(Plan("[launcher]\nJavaMaxVersion = 17.0.9+9\nBundledRuntime = runtime\n").Settings.at(1856).Text),
              "17.0.9+9");
    EXPECT_EQ(Utf8(Plan("[launcher]\nBundledRuntime = runtime\n").Settings.at(1872).Text), "runtime");
}

TEST(SearchOrder, EveryCharacterIsExplainedOnALineOfItsOwn)
{
    std::vector<std::string> lines = DescribeSearchOrder("B0EJV1x");
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines[0], "B: the runtime folder BundledRuntime beside the executable");
    EXPECT_EQ(lines[1], "0: the jvm.dll paths of JvmPath");
    EXPECT_EQ(lines[2], "E: the folder the environment variable JAVA_HOME names");
    EXPECT_EQ(lines[3].substr(0, 28), "J: JavaSoft JDK, JRE, Java D");
    EXPECT_EQ(lines[4].substr(0, 15), "V: vendor keys ");
    EXPECT_EQ(lines[5].substr(0, 41), "1: HKLM JavaSoft\\Java Runtime Environment");
    EXPECT_EQ(lines[6], "x: skipped: not a search method");
    EXPECT_TRUE(DescribeSearchOrder("").empty());
}

TEST(Config, VersionAndManifestSections)
{
    BuildPlan plan = Plan("[version]\nProductName = Demo\nProductVersion = 2.5\n[manifest]\n"
                          "Execution = requireAdministrator\nDpiAwareness = PerMonitorV2\n");
    EXPECT_EQ(plan.Version.ProductVersion[0], 2);
    EXPECT_EQ(plan.Version.ProductVersion[1], 5);
    EXPECT_EQ(plan.Version.FileVersion[1], 5); // the file version follows the product version
    ASSERT_EQ(plan.Version.Strings.size(), 3u);
    EXPECT_EQ(plan.Version.Strings[2].first, "FileVersion");
    EXPECT_EQ(plan.Manifest.Execution, "requireAdministrator");
    EXPECT_EQ(plan.Manifest.DpiAwareness, "permonitorv2");
}

TEST(Config, BadConfigsGiveOneLineWithFileAndLine)
{
    struct Case { std::string text; std::string message; };
    const std::string longText(65536, 'x');
    const Case cases[] = {
        {"[launcher]\nMainClas = a.B\n", "app.ini:2: unknown key 'MainClas' in [launcher]; did you mean 'MainClass'?"},
        {"[launcher]\n\nmainclass = a.B\n", "app.ini:3: unknown key 'mainclass' in [launcher]; did you mean 'MainClass'?"},
        {"[launcher]\nMainClass =\n", "app.ini:2: MainClass is empty"},
        {"[launcher]\nStdoutMode = two\n", "app.ini:2: StdoutMode must be a whole number, not 'two'"},
        {"[launcher]\n\nJavaMaxVersion = jdk17\n",
         "app.ini:3: JavaMaxVersion must be a Java version such as 17 or 11.0.2, not 'jdk17'"},
        {"[launcher]\nProcessPriority = 3x\n", "app.ini:2: ProcessPriority must be a whole number"},
        {"[launcher]\nJvmOptions = " + longText + "\n", "app.ini:2: JvmOptions is 65536 UTF-16 units long"},
        {"[launcher]\nRemoveExtractedFiles = maybe\n", "app.ini:2: RemoveExtractedFiles is a switch"},
        {"[launcher]\nJavaVersion = 1.8\n", "app.ini:2: JavaVersion must be a hexadecimal word"},
        {"[launcher]\nSplashText = \xCE\xA9mega\n", "app.ini:2: '\xCE\xA9' in SplashText cannot be represented in code page 1252"},
        {"[launcher]\nCodePage = 20127\nSplashText = caf\xC3\xA9\n", "app.ini:3: '\xC3\xA9' in SplashText cannot be represented in code page 20127"},
        {"[launcher]\nCodePage = 932\n", "app.ini:2: CodePage 932 is not supported"},
        {"[launcher]\nClassPath = \xC3(\n", "app.ini:2: the value of ClassPath is not valid UTF-8"},
        {"[messages]\n1537 = x\n", "app.ini:2: unknown key '1537' in [messages]; did you mean '1536'?"},
        {"[messages]\n1536 = a\nMsgAlreadyRunning = b\n", "app.ini:3: MsgAlreadyRunning (1536) given twice (first at line 2)"},
        {"[messages]\nMsgLoadJvm = %d failed\n", "app.ini:2: message MsgLoadJvm: only %s and %% may follow a '%'"},
        {"[messages]\nMsgNoJre = %s missing\n", "app.ini:2: message MsgNoJre has more %s than the launcher passes (0)"},
        {"[launcher]\nServiceName = a\nServiceName = b\n", "app.ini:3: key 'ServiceName' given twice (first at line 2)"},
        {"[launchr]\n", "app.ini:1: unknown section [launchr]; did you mean 'launcher'?"},
        {"MainClass = a.B\n", "app.ini:1: a key before the first [section]"},
        {"[launcher]\njust words\n", "app.ini:2: expected 'key = value'"},
        {"[launcher]\n[launcher]\n", "app.ini:2: section [launcher] given twice (first at line 1)"},
        {"[version]\nProductVersion = 1.x\n", "app.ini:2: ProductVersion must be one to four numbers"},
        {"[version]\nFileVersion = 1.2.3.4.5\n", "app.ini:2: FileVersion has more than four parts"},
        {"[manifest]\nExecution = admin\n", "app.ini:2: Execution must be asInvoker"},
        {"[splash]\nBitmap =\n", "app.ini:2: Bitmap in [splash] names no file"},
        {"[launcher]\nMainClass = " + std::string(256, 'a') + "\n", "app.ini:2: MainClass is longer than 255 bytes"},
    };
    for (const Case& c : cases) {
        try {
            Plan(c.text);
            ADD_FAILURE() << "accepted: " << c.text.substr(0, 60);
        } catch (const BuildError& error) {
            std::string what = error.what();
            EXPECT_EQ(what.compare(0, c.message.size(), c.message), 0) << what;
            EXPECT_EQ(what.find('\n'), std::string::npos) << what;
        }
    }
}

TEST(Config, NearestKeyIsSuggestedOnlyWhenClose)
{
    EXPECT_EQ(NearestWord("Stdoutmod", {"StdoutMode", "StderrMode"}), "StdoutMode");
    EXPECT_EQ(NearestWord("Colour", {"StdoutMode", "StderrMode"}), "");
}
