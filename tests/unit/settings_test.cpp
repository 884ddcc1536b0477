// The loader against real resources: this test program carries its own string table (see
// make_test_rc.py), so every value below went through LoadStringA.
#include "settings.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <fstream>
#include <string>

namespace {

std::string Pattern(size_t length)
{
    std::string text;
    for (size_t i = 0; i < length; i++)
        text += (char)('a' + i % 26);
    return text;
}

// Runs each test in a fresh folder of its own, where an INI file can be put.
class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char temp[MAX_PATH];
        GetTempPathA(sizeof(temp), temp);
        folder_ = std::string(temp) + "kestrun-settings-" + std::to_string(GetCurrentProcessId()) + "-" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name();
        CreateDirectoryA(folder_.c_str(), NULL);
        GetCurrentDirectoryA(sizeof(previous_), previous_);
        ASSERT_TRUE(SetCurrentDirectoryA(folder_.c_str()));
        SetPriorityClass(GetCurrentProcess(), NORMAL_PRIORITY_CLASS);
    }
    void TearDown() override
    {
        SetCurrentDirectoryA(previous_);
        DeleteFileA((folder_ + "\\unit-tests.ini").c_str());
        RemoveDirectoryA(folder_.c_str());
        SetPriorityClass(GetCurrentProcess(), NORMAL_PRIORITY_CLASS);
    }
    void WriteIni(const std::string& text) { std::ofstream(folder_ + "\\unit-tests.ini") << text; }

    std::string folder_;
    char previous_[MAX_PATH] = "";
};

TEST(LoadSettingText, ReadsEntriesWholeAcrossTheBufferSteps)
{
    const int ids[] = {4000, 4016, 4032, 4048, 4064, 4080};
    const size_t lengths[] = {65535, 1022, 1023, 1024, 2047, 2048};
    for (int i = 0; i < 6; i++) {
        char* text = LoadSettingText(NULL, ids[i]);
        EXPECT_EQ(std::string(text), Pattern(lengths[i])) << "entry " << ids[i];
        FreeSettingText(text);
    }
}

TEST(LoadSettingText, MissingEntryIsEmpty)
{
    char* text = LoadSettingText(NULL, 1376);
    EXPECT_STREQ(text, "");
    FreeSettingText(text);
    text = LoadSettingText(GetModuleHandleA(NULL), 9999);
    EXPECT_STREQ(text, "");
    FreeSettingText(text);
}

TEST_F(SettingsTest, LoadsEveryKindFromTheStringTable)
{
    LoadLauncherSettings();
    const LauncherSettingsData& s = LauncherSettings;
    EXPECT_STREQ(s.JavaVersion, "00010004");
    EXPECT_EQ(s.JavaVersionWord, 0x10004u) << "hex without 0x";
    EXPECT_EQ(std::string(s.JvmPath), Pattern(3000));
    EXPECT_STREQ(s.JvmOptions, "-Dcompiled=1");
    EXPECT_STREQ(s.ClassPath, "unit.jar");
    EXPECT_STREQ(s.ServiceName, "UnitService");
    EXPECT_STREQ(s.WorkingDirectory, "") << "a missing text is empty, never null";
    EXPECT_STREQ(s.StdoutFile, "out.log");
    EXPECT_STREQ(s.MainClass, "com/example/Main") << "three dotted parts, two slashes";
    EXPECT_STREQ(s.ScrambledMainClass, "3504597C07403B1C413B081919025A37");
}

TEST_F(SettingsTest, FlagsAreTrueUnlessTheTextBeginsWithZero)
{
    LoadLauncherSettings();
    const LauncherSettingsData& s = LauncherSettings;
    EXPECT_TRUE(s.RemoveExtractedFiles) << "empty entry";
    EXPECT_FALSE(s.UseStartDirectory) << "\"0\"";
    EXPECT_TRUE(s.EarlyWorkingDirectory) << "\"1\"";
    EXPECT_TRUE(s.ServiceStopByExit) << "\"abc\"";
    EXPECT_FALSE(s.ServiceDemandStart) << "\"0abc\"";
    EXPECT_TRUE(s.ServiceInteractive) << "\"2\"";
    EXPECT_TRUE(s.AllowMultipleInstances) << "missing entry";
}

TEST_F(SettingsTest, NumbersAreReadLikeAtoi)
{
    LoadLauncherSettings();
    EXPECT_EQ(LauncherSettings.StdoutMode, 2);
    EXPECT_EQ(LauncherSettings.StderrMode, 0) << "\"x7\" is not a number";
    EXPECT_EQ(LauncherSettings.SplashSeconds, -3);
    EXPECT_EQ(LauncherSettings.ProcessPriority, 1);
}

TEST_F(SettingsTest, PriorityClassIsAppliedWhileLoading)
{
    LoadLauncherSettings();
    EXPECT_EQ(GetPriorityClass(GetCurrentProcess()), (DWORD)HIGH_PRIORITY_CLASS);
}

TEST(ProcessPriority, OutOfRangeIndexLeavesThePriorityUnchanged)
{
    ASSERT_TRUE(ApplyProcessPriority(4));
    EXPECT_EQ(GetPriorityClass(GetCurrentProcess()), (DWORD)BELOW_NORMAL_PRIORITY_CLASS);
    EXPECT_FALSE(ApplyProcessPriority(6));
    EXPECT_FALSE(ApplyProcessPriority(-1));
    EXPECT_EQ(GetPriorityClass(GetCurrentProcess()), (DWORD)BELOW_NORMAL_PRIORITY_CLASS);
    ASSERT_TRUE(ApplyProcessPriority(3));
    EXPECT_EQ(GetPriorityClass(GetCurrentProcess()), (DWORD)NORMAL_PRIORITY_CLASS);
}

TEST(SettingWords, HexWithAndWithoutPrefix)
{
    EXPECT_EQ(ParseSettingHexWord("0x00010004"), 0x10004u);
    EXPECT_EQ(ParseSettingHexWord("00010004"), 0x10004u);
    EXPECT_EQ(ParseSettingHexWord("0X1a"), 0x1au);
    EXPECT_EQ(ParseSettingHexWord("java"), 0u);
    EXPECT_EQ(ParseSettingHexWord(""), 0u);
    EXPECT_TRUE(ParseSettingFlag(""));
    EXPECT_FALSE(ParseSettingFlag("0"));
    EXPECT_TRUE(ParseSettingFlag("a"));
}

TEST_F(SettingsTest, UnsafeMessageFormatsShowThemselvesLiterally)
{
    LoadLauncherSettings();
    EXPECT_STREQ(LauncherSettings.MsgAlreadyRunning, "Already %%d running %%s");
    EXPECT_STREQ(LauncherSettings.MsgLoadJvm, "Load %%s and %%s") << "two texts where one is given";
    EXPECT_STREQ(LauncherSettings.MsgJniInterfaces, "Interfaces in %s");
    EXPECT_STREQ(LauncherSettings.MsgFileAccess, "File problem: %s");
    char* direct = LoadMessageText(1536);
    EXPECT_STREQ(direct, "Already %%d running %%s");
    FreeSettingText(direct);
}

TEST_F(SettingsTest, IniFileReplacesNonEmptyValuesOnly)
{
    WriteIni("[Application Configuration]\nJvmOptions=-Dini=1 -Xmx64m\nAppOptions=\n");
    LoadLauncherSettings();
    EXPECT_STREQ(LauncherSettings.JvmOptions, "-Dini=1 -Xmx64m");
    EXPECT_STREQ(LauncherSettings.AppOptions, "compiled args") << "an empty INI value keeps the compiled one";
}

TEST_F(SettingsTest, IniValuesLongerThanTheFirstBufferAreReadWhole)
{
    std::string options = "-Dlong=" + Pattern(5000);
    WriteIni("[Application Configuration]\nAppOptions=" + options + "\n");
    LoadLauncherSettings();
    EXPECT_EQ(std::string(LauncherSettings.AppOptions), options);
    EXPECT_STREQ(LauncherSettings.JvmOptions, "-Dcompiled=1");
}

TEST_F(SettingsTest, MissingIniFileKeepsTheCompiledValues)
{
    LoadLauncherSettings();
    EXPECT_STREQ(LauncherSettings.JvmOptions, "-Dcompiled=1");
    EXPECT_STREQ(LauncherSettings.AppOptions, "compiled args");
}

TEST_F(SettingsTest, IniWithBinaryBytesAndOtherSectionsIsHarmless)
{
    std::string junk(3000, '\x01');
    WriteIni("[Other]\nJvmOptions=-Dwrong=1\n" + junk + "\n[Application Configuration]\nJvmOptions=-Dright=1\n");
    LoadLauncherSettings();
    EXPECT_STREQ(LauncherSettings.JvmOptions, "-Dright=1");
}

} // namespace
