// Failures a user must be able to act on: the report says what went wrong and where to look, and
// nothing that should run is left out.
#include "e2e.h"

namespace {

TEST_F(E2eTest, RefusedOptionShowsWhatTheJvmSaidAsTheDetails)
{
    Script("out never");
    LauncherRun run = Run(Build({{"JvmOptions", "-Xmx64m --foo"}}));
    ASSERT_EQ(run.Reports.size(), 1u) << DescribeReports(run.Reports);
    EXPECT_TRUE(run.Reports[0].IsErrorDialog);
    EXPECT_EQ(run.Reports[0].Text, "Unable to create JVM instance using " + DoubleJvmPath());
    EXPECT_EQ(run.Reports[0].Details,
              "Unrecognized option: --foo\r\nError: Could not create the Java Virtual Machine.\r\n");
    EXPECT_EQ(run.ExitCode, ExitFailure);
}

TEST_F(E2eTest, NoRuntimeFoundSaysWhatTheSearchConsidered)
{
    SetEnvironmentVariableA("JAVA_HOME", NULL);
    LauncherRun run = Run(Build({{"JvmPath", "missing\\jvm.dll"}, {"JreSearchOrder", "0E"}}));
    ASSERT_EQ(run.Reports.size(), 1u) << DescribeReports(run.Reports);
    EXPECT_EQ(run.Reports[0].Text, "Unable to locate suitable Java Runtime Environment on this machine.");
    EXPECT_EQ(run.Reports[0].Details, "Search order \"0E\":\r\n"
                                      "[0] JvmPath, jvm.dll missing\\jvm.dll: no readable file\r\n"
                                      "[E] JAVA_HOME: not set\r\n");
    EXPECT_EQ(run.ExitCode, ExitFailure);
}

TEST_F(E2eTest, MissingIniFileStillExtractsTheEmbeddedFiles)
{
    ASSERT_TRUE(WriteFile(folder_ + "\\lib\\app.jar", "== " + SlashClass() + "\nout ran from the jar\n"));
    LauncherRun run = Run(Build({{"IniFileName", "absent.ini"}, {"ClassPath", ""}}, "app.exe",
                                "[files]\nFile = lib/app.jar\n"));
    ExpectNoReports(run);
    EXPECT_EQ(run.ExitCode, 0u);
    EXPECT_EQ(Out(), "ran from the jar\r\n");
}

// Starts exe suspended, so that two launches can be let go at the same moment.
PROCESS_INFORMATION StartSuspended(const std::string& exe, const std::string& folder)
{
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    std::string commandLine = "\"" + exe + "\"";
    EXPECT_TRUE(CreateProcessA(exe.c_str(), &commandLine[0], NULL, NULL, FALSE, CREATE_SUSPENDED, NULL,
                               folder.c_str(), &startup, &process));
    return process;
}

TEST_F(E2eTest, OfTwoLaunchesAtTheSameMomentOnlyOneRuns)
{
    // The program outlives the second launch's guard check by far; the check is what is tested.
    Script("out started\nsleep 8000");
    std::string exe = Build({{"AllowMultipleInstances", "0"}});
    PROCESS_INFORMATION first = StartSuspended(exe, folder_), second = StartSuspended(exe, folder_);
    ReportWatcher firstWatcher(first.dwProcessId), secondWatcher(second.dwProcessId);
    ResumeThread(first.hThread);
    ResumeThread(second.hThread);
    HANDLE both[2] = {first.hProcess, second.hProcess};
    EXPECT_EQ(WaitForMultipleObjects(2, both, TRUE, 60000), WAIT_OBJECT_0);
    firstWatcher.Stop();
    secondWatcher.Stop();
    std::vector<SeenReport> reports = firstWatcher.Reports(), more = secondWatcher.Reports();
    reports.insert(reports.end(), more.begin(), more.end());
    ASSERT_EQ(reports.size(), 1u) << DescribeReports(reports);
    EXPECT_EQ(reports[0].Text, "An instance of this program is already running.");
    EXPECT_EQ(Out(), "started\r\n");
    for (PROCESS_INFORMATION* process : {&first, &second}) {
        DWORD code = 1;
        GetExitCodeProcess(process->hProcess, &code);
        EXPECT_EQ(code, 0u);
        CloseHandle(process->hThread);
        CloseHandle(process->hProcess);
    }
}

} // namespace
