// Reports as the user sees them: each test shows a real message box or the error dialog in this
// process and a watcher thread reads it off the screen and closes it.
#include "report.h"

#include "resource_ids.h"
#include "watcher.h"

#include <gtest/gtest.h>

#include <string>

namespace {

class ReportTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        InstanceHandle = GetModuleHandleA(NULL);
        RunMode = RUN_MODE_GUI;
    }
};

std::string SystemText(DWORD code)
{
    char text[4000];
    GetSystemErrorText(code, text, sizeof(text));
    return text;
}

TEST_F(ReportTest, ErrorBoxShowsInsertedPercentLiterally)
{
    ReportWatcher watcher(GetCurrentProcessId());
    ShowError("Unable to load JVM: %s", "C:\\100% java\\%s%d\\jvm.dll");
    ASSERT_TRUE(watcher.WaitForCount(1, 5000));
    auto reports = watcher.Reports();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].Caption, "Error");
    EXPECT_EQ(reports[0].Text, "Unable to load JVM: C:\\100% java\\%s%d\\jvm.dll");
    EXPECT_EQ(reports[0].ButtonIds, std::vector<int>{IDOK}) << "MB_OK: one button";
    EXPECT_EQ(reports[0].Icon, LoadIconA(NULL, (LPCSTR)IDI_HAND)) << "MB_ICONERROR";
}

TEST_F(ReportTest, NoticeIsAnInformationBox)
{
    ReportWatcher watcher(GetCurrentProcessId());
    ShowNotice("Service installed: %s", "Demo");
    ASSERT_TRUE(watcher.WaitForCount(1, 5000));
    auto reports = watcher.Reports();
    EXPECT_EQ(reports[0].Caption, "Information");
    EXPECT_EQ(reports[0].Text, "Service installed: Demo");
    EXPECT_EQ(reports[0].ButtonIds, std::vector<int>{IDOK});
    EXPECT_EQ(reports[0].Icon, LoadIconA(NULL, (LPCSTR)IDI_ASTERISK)) << "MB_ICONINFORMATION";
}

TEST_F(ReportTest, ErrorWithReasonAppendsTheSystemsSentence)
{
    ReportWatcher watcher(GetCurrentProcessId());
    SetLastError(ERROR_FILE_NOT_FOUND);
    ShowErrorWithReason("Error accessing file/directory: %s", "C:\\missing");
    SetLastError(0x20001234); // a customer code the system has no text for
    ShowErrorWithReason("Internal error RC000015");
    ASSERT_TRUE(watcher.WaitForCount(2, 5000));
    auto reports = watcher.Reports();
    ASSERT_FALSE(SystemText(ERROR_FILE_NOT_FOUND).empty());
    EXPECT_EQ(reports[0].Text,
              "Error accessing file/directory: C:\\missing\n\nReason: " + SystemText(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(reports[1].Text, "Internal error RC000015\n\nReason: Unknown error 536875572 (0x20001234)");
}

TEST_F(ReportTest, LastErrorIsShownAlone)
{
    ReportWatcher watcher(GetCurrentProcessId());
    SetLastError(ERROR_ACCESS_DENIED);
    ShowLastError();
    ASSERT_TRUE(watcher.WaitForCount(1, 5000));
    EXPECT_EQ(watcher.Reports()[0].Text, SystemText(ERROR_ACCESS_DENIED));
    EXPECT_EQ(watcher.Reports()[0].Caption, "Error");
}

TEST_F(ReportTest, OverlongMessageIsCutAndMarked)
{
    ReportWatcher watcher(GetCurrentProcessId());
    std::string path(20000, 'p');
    ShowError("Error writing to file/directory: %s", path.c_str());
    ASSERT_TRUE(watcher.WaitForCount(1, 5000));
    std::string text = watcher.Reports()[0].Text;
    EXPECT_EQ(text.size(), (size_t)REPORT_TEXT_SIZE - 1);
    EXPECT_EQ(text.substr(0, 33), "Error writing to file/directory: ");
    EXPECT_EQ(text.substr(text.size() - 3), "...");
}

// The error dialog closes the same way whichever way the user chooses, and centred on the screen.
void CheckErrorDialogClosedBy(DismissBy how)
{
    ReportWatcher watcher(GetCurrentProcessId(), how);
    ShowErrorWithDetails("line one\r\nline two\r\n\tat App.main(App.java:3)\r\n",
                         "Error invoking method: %s", "main(java/lang/String[])");
    // Returning at all means the dialog was closed.
    auto reports = watcher.Reports();
    ASSERT_EQ(reports.size(), 1u);
    const SeenReport& dialog = reports[0];
    EXPECT_TRUE(dialog.IsErrorDialog);
    EXPECT_EQ(dialog.Caption, "Error");
    EXPECT_EQ(dialog.Text, "Error invoking method: main(java/lang/String[])");
    EXPECT_EQ(dialog.Details, "line one\r\nline two\r\n\tat App.main(App.java:3)\r\n");
    EXPECT_EQ(dialog.DetailsLineCount, 4) << "CR LF pairs break lines";
    const LONG wanted = ES_MULTILINE | ES_READONLY | WS_VSCROLL | WS_HSCROLL | WS_TABSTOP;
    EXPECT_EQ(dialog.DetailsStyle & wanted, wanted);
    // The edit control turns its WS_BORDER into a client edge when it is created.
    EXPECT_TRUE((dialog.DetailsStyle & WS_BORDER) || (dialog.DetailsExStyle & WS_EX_CLIENTEDGE));
    EXPECT_EQ(dialog.ButtonIds, std::vector<int>{IDOK});
    int width = dialog.Rect.right - dialog.Rect.left;
    int height = dialog.Rect.bottom - dialog.Rect.top;
    EXPECT_EQ(dialog.Rect.left, (GetSystemMetrics(SM_CXSCREEN) - width) / 2);
    EXPECT_EQ(dialog.Rect.top, (GetSystemMetrics(SM_CYSCREEN) - height) / 2);
}

TEST_F(ReportTest, ErrorDialogClosesWithOk) { CheckErrorDialogClosedBy(DismissBy::OkButton); }
TEST_F(ReportTest, ErrorDialogClosesWithEnter) { CheckErrorDialogClosedBy(DismissBy::EnterKey); }
TEST_F(ReportTest, ErrorDialogClosesWithEscape) { CheckErrorDialogClosedBy(DismissBy::EscapeKey); }
TEST_F(ReportTest, ErrorDialogClosesWithTheCloseBox) { CheckErrorDialogClosedBy(DismissBy::CloseBox); }

INT_PTR CALLBACK IgnoreAll(HWND, UINT, WPARAM, LPARAM)
{
    return FALSE;
}

TEST_F(ReportTest, ErrorDialogHasTheTemplatesSize)
{
    ReportWatcher watcher(GetCurrentProcessId());
    ShowErrorWithDetails("x", "y");
    auto reports = watcher.Reports();
    ASSERT_EQ(reports.size(), 1u);
    // 304 x 166 dialog units in 8 point MS Sans Serif; compare with the template as the system maps it.
    HWND probe = CreateDialogParamA(GetModuleHandleA(NULL), MAKEINTRESOURCEA(IDD_ERROR), NULL, IgnoreAll, 0);
    ASSERT_NE(probe, nullptr);
    RECT units = {0, 0, 304, 166};
    MapDialogRect(probe, &units);
    RECT client;
    GetClientRect(probe, &client);
    DestroyWindow(probe);
    EXPECT_EQ(client.right, units.right);
    EXPECT_EQ(client.bottom, units.bottom);
    EXPECT_GT(reports[0].Rect.right - reports[0].Rect.left, units.right - 1);
}

TEST_F(ReportTest, CenterWindowUsesNegativeOffsetsForWindowsLargerThanTheScreen)
{
    int screenWidth = GetSystemMetrics(SM_CXSCREEN);
    int screenHeight = GetSystemMetrics(SM_CYSCREEN);
    HWND window = CreateWindowExA(0, "STATIC", "big", WS_POPUP, 5, 7, screenWidth + 977, screenHeight + 233,
                                  NULL, NULL, GetModuleHandleA(NULL), NULL);
    ASSERT_NE(window, nullptr);
    CenterWindow(window);
    RECT rect;
    GetWindowRect(window, &rect);
    DestroyWindow(window);
    EXPECT_EQ(rect.left, -977 / 2);
    EXPECT_EQ(rect.top, -233 / 2);
    EXPECT_EQ(rect.right - rect.left, screenWidth + 977) << "the size is kept";
}

// In service mode nothing is shown: every report becomes one event-log entry. Wine prints each
// entry on standard error, which the event-log check script reads from this test's run.
TEST_F(ReportTest, ServiceModeReportsGoToTheEventLogAndShowNothing)
{
    ReportWatcher watcher(GetCurrentProcessId());
    RunMode = RUN_MODE_SERVICE;
    EventSourceHandle = RegisterEventSourceA(NULL, "KestrunUnitTest");
    ASSERT_NE(EventSourceHandle, nullptr);
    ShowNotice("The %s service has started.", "UnitService");
    ShowError("Unable to load JVM: %s", "C:\\jvm.dll");
    ShowErrorWithDetails("captured line 1\ncaptured line 2", "Error invoking method: %s", "main(java/lang/String[])");
    DeregisterEventSource(EventSourceHandle);
    EventSourceHandle = NULL;
    RunMode = RUN_MODE_GUI;
    // A dialog would block this thread until closed, so none was shown; a message box neither.
    EXPECT_TRUE(watcher.Reports().empty());
}

TEST_F(ReportTest, ServiceModeWithoutEventSourceDropsReportsSilently)
{
    ReportWatcher watcher(GetCurrentProcessId());
    RunMode = RUN_MODE_SERVICE;
    EventSourceHandle = NULL;
    ShowError("dropped %s", "report");
    ShowLastError();
    RunMode = RUN_MODE_GUI;
    EXPECT_TRUE(watcher.Reports().empty());
}

} // namespace
