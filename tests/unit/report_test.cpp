// Reports as the user sees them: each test shows a real message box or the error dialog in this
// process, and a watcher thread reads it off the screen and closes it.
#include "kit.h"
#include "report.h"
#include "watcher.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(Report, SystemTextOfTheLastError)
{
    const std::string message = "Error accessing file/directory: C:\\missing\n\nReason: ";
    const struct {
        DWORD Code;
        bool Alone; // ShowLastError, else ShowErrorWithReason
        std::string Shown;
    } cases[] = {
        {ERROR_FILE_NOT_FOUND, false, message + SystemText(ERROR_FILE_NOT_FOUND)},
        {0x20001234, false, message + "Unknown error 536875572 (0x20001234)"}, // a code without a text
        {ERROR_ACCESS_DENIED, true, SystemText(ERROR_ACCESS_DENIED)},
    };
    for (const auto& c : cases) {
        ReportWatcher watcher(GetCurrentProcessId());
        SetLastError(c.Code);
        if (c.Alone)
            ShowLastError();
        else
            ShowErrorWithReason("Error accessing file/directory: %s", "C:\\missing");
        auto reports = watcher.Reports();
        ASSERT_EQ(reports.size(), 1u) << c.Code;
        EXPECT_EQ(reports[0].Caption, "Error");
        EXPECT_EQ(reports[0].Text, c.Shown);
    }
}

// Returning from ShowErrorWithDetails at all means the dialog was closed.
TEST(Report, ErrorDialogClosesByOkEnterEscapeAndTheCloseBox)
{
    InstanceHandle = GetModuleHandleA(NULL);
    for (DismissBy how : {DismissBy::OkButton, DismissBy::EnterKey, DismissBy::EscapeKey, DismissBy::CloseBox}) {
        ReportWatcher watcher(GetCurrentProcessId(), how);
        ShowErrorWithDetails("line one\r\n\tat App.main(App.java:3)\r\n", "Error invoking method: %s", "main()");
        auto reports = watcher.Reports();
        ASSERT_EQ(reports.size(), 1u) << (int)how;
        EXPECT_TRUE(reports[0].IsErrorDialog);
        EXPECT_EQ(reports[0].Text, "Error invoking method: main()");
        EXPECT_EQ(reports[0].Details, "line one\r\n\tat App.main(App.java:3)\r\n");
    }
}

TEST(Report, OverlongMessageIsCutAndMarked)
{
    ReportWatcher watcher(GetCurrentProcessId());
    ShowError("Error writing to file/directory: %s", std::string(20000, 'p').c_str());
    auto reports = watcher.Reports();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].Text, "Error writing to file/directory: " + std::string(8191 - 33 - 3, 'p') + "...");
}

} // namespace
