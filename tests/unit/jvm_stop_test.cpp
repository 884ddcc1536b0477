// A service stop can arrive while the worker thread is still creating the JVM.
#include "jvm.h"
#include "report.h"
#include "settings.h"
#include "watcher.h"

#include <gtest/gtest.h>

namespace {

TEST(StopWithoutJvm, BothStopPathsReportThatTheyCannotAttach)
{
    ASSERT_EQ(JavaVm, nullptr);
    InstanceHandle = GetModuleHandleA(NULL);
    RunMode = RUN_MODE_GUI;
    char message[] = "Unable to attach thread to the JVM.";
    LauncherSettings.MsgAttachThread = message;
    ReportWatcher watcher(GetCurrentProcessId());
    EXPECT_FALSE(StopJvmWithExit());
    EXPECT_FALSE(RunMainClass(0, nullptr, true));
    ASSERT_TRUE(watcher.WaitForCount(2, 5000));
    for (const SeenReport& report : watcher.Reports()) {
        EXPECT_EQ(report.Caption, "Error");
        EXPECT_EQ(report.Text, "Unable to attach thread to the JVM.");
    }
}

} // namespace
