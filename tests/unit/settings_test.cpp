// The settings loader against this program's own string table (unit_tests.rc) and an INI file in the
// current folder, and the message texts it yields as the user sees them.
#include "report.h"
#include "settings.h"
#include "watcher.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

namespace {

TEST(Settings, StringTableEntriesByKind)
{
    LoadLauncherSettings();
    const LauncherSettingsData& s = LauncherSettings;
    EXPECT_STREQ(s.WorkingDirectory, "") << "a missing entry is an empty text";
    EXPECT_STREQ(s.MainClass, "com/example/Main") << "descrambled, with slashes";
    const struct {
        const char* Text; // as unit_tests.rc stores it
        int Value, Expected;
    } cases[] = {
        {"0", s.UseStartDirectory, false}, {"1", s.EarlyWorkingDirectory, true}, {"abc", s.ServiceStopByExit, true},
        {"0abc", s.ServiceDemandStart, false}, {"2", s.ServiceInteractive, true}, {" 0", s.SplashUntilWindow, true},
        {"(missing)", s.AllowMultipleInstances, true}, {"2", s.StdoutMode, 2}, {"x7", s.StderrMode, 0},
        {"-010", s.SplashSeconds, -10}, {"3rd", s.ProcessPriority, 3},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.Value, c.Expected) << "[" << c.Text << "]: flags are true unless it begins with 0, numbers as atoi";
}

TEST(Settings, IniFileReplacesNonEmptyValuesOnly)
{
    const std::string longOptions = "-Dlong=" + std::string(5000, 'L');
    const struct {
        std::string Ini; // empty: no INI file
        std::string JvmOptions, AppOptions;
    } cases[] = {
        {"", "-Dcompiled=1", "compiled args"},
        {"[Application Configuration]\nJvmOptions=-Dini=1 -Xmx64m\nAppOptions=\n", "-Dini=1 -Xmx64m", "compiled args"},
        {"[Other]\nJvmOptions=-Dwrong\n[Application Configuration]\nAppOptions=x y\n", "-Dcompiled=1", "x y"},
        {"[Application Configuration]\nAppOptions=" + longOptions + "\n", "-Dcompiled=1", longOptions},
    };
    for (const auto& c : cases) {
        DeleteFileA("unit-tests.ini");
        if (!c.Ini.empty())
            std::ofstream("unit-tests.ini") << c.Ini;
        LoadLauncherSettings();
        EXPECT_EQ(LauncherSettings.JvmOptions, c.JvmOptions) << c.Ini;
        EXPECT_EQ(LauncherSettings.AppOptions, c.AppOptions) << c.Ini;
    }
    DeleteFileA("unit-tests.ini");
}

TEST(MessageFormat, ConversionsTheSettingDoesNotAllowAreShownAsWritten)
{
    LoadLauncherSettings();
    const struct {
        const char *Format, *Inserted, *Shown;
    } cases[] = {
        {LauncherSettings.MsgAlreadyRunning, "x", "Already %d running %s"},
        {LauncherSettings.MsgLoadJvm, "C:\\jvm.dll", "Load %s and %s"},
        {LauncherSettings.MsgNoJre, "x", "No runtime, 100% sure"},
        {LauncherSettings.MsgFileAccess, "C:\\100% x\\%s%d", "File problem: C:\\100% x\\%s%d"},
    };
    for (const auto& c : cases) {
        ReportWatcher watcher(GetCurrentProcessId());
        ShowError(c.Format, c.Inserted);
        auto reports = watcher.Reports();
        ASSERT_EQ(reports.size(), 1u) << c.Shown;
        EXPECT_EQ(reports[0].Text, c.Shown);
    }
}

} // namespace
