// The settings loader on this program's own string table (unit_tests.rc) and an INI file; and reports as
// the user sees them: a real box or the error dialog shown here, read off the screen and closed by a watcher.
#include "kit.h"
#include "report.h"
#include "settings.h"
#include "watcher.h"

#include <gtest/gtest.h>

#include <string>

TEST(Settings, StringTableEntriesByKind)
{
    LoadLauncherSettings();
    const LauncherSettingsData& s = LauncherSettings;
    EXPECT_STREQ(s.WorkingDirectory, "") << "a missing entry is an empty text";
    EXPECT_STREQ(s.MainClass, "com/example/Main") << "descrambled, with slashes";
    struct Case { const char* Text; int Value, Expected; }; // Text as unit_tests.rc stores it
    const Case cases[] = {
        {"0", s.UseStartDirectory, false}, {"abc", s.ServiceStopByExit, true}, {"0abc", s.ServiceDemandStart, false},
        {" 0", s.SplashUntilWindow, true}, {"(missing)", s.AllowMultipleInstances, true}, {"x7", s.StderrMode, 0},
        {"-010", s.SplashSeconds, -10}, {"3rd", s.ProcessPriority, 3},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.Value, c.Expected) << "[" << c.Text << "]: flags are true unless it begins with 0, numbers as atoi";
}

// The one report that show puts on the screen, as the watcher saw it before closing it.
static SeenReport ShownReport(const std::function<void()>& show, DismissBy how = DismissBy::OkButton)
{
    ReportWatcher watcher(GetCurrentProcessId(), how);
    show();
    std::vector<SeenReport> reports = watcher.Reports();
    EXPECT_EQ(reports.size(), 1u) << DescribeReports(reports);
    return reports.empty() ? SeenReport() : reports[0];
}

// Returning from ShowErrorWithDetails at all means the dialog was closed.
TEST(Report, ErrorDialogClosesByOkEnterEscapeAndTheCloseBox)
{
    InstanceHandle = GetModuleHandleA(NULL);
    const char* stack = "line one\r\n\tat App.main(App.java:3)\r\n";
    for (DismissBy how : {DismissBy::OkButton, DismissBy::EnterKey, DismissBy::EscapeKey, DismissBy::CloseBox}) {
        SeenReport seen = ShownReport([&] { ShowErrorWithDetails(stack, "Error invoking method: %s", "main()"); }, how);
        EXPECT_TRUE(seen.IsErrorDialog) << (int)how;
        EXPECT_EQ(seen.Text, "Error invoking method: main()");
        EXPECT_EQ(seen.Details, stack);
    }
}

TEST(Report, OverlongMessageIsCutAndMarked)
{
    const std::string path(20000, 'p');
    EXPECT_EQ(ShownReport([&] { ShowError("Error writing to file/directory: %s", path.c_str()); }).Text,
              "Error writing to file/directory: " + std::string(8191 - 33 - 3, 'p') + "...");
}

TEST(MessageFormat, ConversionsTheSettingDoesNotAllowAreShownAsWritten)
{
    LoadLauncherSettings();
    const LauncherSettingsData& s = LauncherSettings;
    const struct { const char *Format, *Inserted, *Shown; } cases[] = {
        {s.MsgAlreadyRunning, "x", "Already %d running %s"}, {s.MsgLoadJvm, "C:\\jvm.dll", "Load %s and %s"},
        {s.MsgNoJre, "x", "No runtime, 100% sure"}, {s.MsgFileAccess, "100% %s%d", "File problem: 100% %s%d"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ShownReport([&] { ShowError(c.Format, c.Inserted); }).Text, c.Shown);
}
