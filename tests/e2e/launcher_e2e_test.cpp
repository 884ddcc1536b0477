// The launcher run as a user runs it: real executables under wine64, every dialog and message box
// read off the screen, exit codes checked.
#include "variant.h"
#include "watcher.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <stdio.h>

#include <string>
#include <vector>

namespace {

// What a variant says when it reaches the JVM start: it searches only its (empty) JvmPath.
const char* const NoRuntime = "Unable to locate suitable Java Runtime Environment on this machine.";
const char* const AlreadyRunning = "An instance of this program is already running.";
const DWORD ExitFailure = (DWORD)-1;

std::string CurrentTestName()
{
    return ::testing::UnitTest::GetInstance()->current_test_info()->name();
}

// A launcher process started by a test, with its reports watched but left open (so the run waits).
struct OpenLauncher {
    PROCESS_INFORMATION Process = {};
    ReportWatcher* Watcher = nullptr;

    bool Start(const std::string& exe, const std::string& arguments)
    {
        std::string commandLine = "\"" + exe + "\" " + arguments;
        STARTUPINFOA startup = {};
        startup.cb = sizeof(startup);
        if (!CreateProcessA(exe.c_str(), &commandLine[0], NULL, NULL, FALSE, 0, NULL, NULL, &startup, &Process))
            return false;
        Watcher = new ReportWatcher(Process.dwProcessId, DismissBy::Nothing);
        return true;
    }
    // Closes the report it shows (found by its text) and waits for the process to end.
    DWORD CloseAndWait()
    {
        Watcher->Stop();
        for (HWND window = NULL; (window = FindWindowExA(NULL, window, "#32770", NULL)) != NULL;) {
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            if (owner == Process.dwProcessId)
                PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        }
        DWORD code = (DWORD)-2;
        if (WaitForSingleObject(Process.hProcess, 10000) != WAIT_OBJECT_0)
            TerminateProcess(Process.hProcess, 1);
        GetExitCodeProcess(Process.hProcess, &code);
        return code;
    }
    ~OpenLauncher()
    {
        if (Process.hProcess != NULL) {
            TerminateProcess(Process.hProcess, 1);
            CloseHandle(Process.hProcess);
            CloseHandle(Process.hThread);
        }
        delete Watcher;
    }
};

class LauncherTest : public ::testing::Test {
protected:
    void SetUp() override { folder_ = TestFolder(CurrentTestName()); }

    // Tests run in parallel: unless a test names its own, each gets a main class (and so a
    // single-instance mutex) of its own.
    std::string Variant(SettingOverrides overrides, const std::string& name = "app.exe")
    {
        overrides.insert({1184, Scrambled(MainClass())});
        // Only JvmPath is searched, never the runtime keys that other tests write.
        overrides.insert({1104, "0"});
        std::string error;
        std::string path = MakeLauncherVariant(folder_, name, overrides, &error);
        EXPECT_FALSE(path.empty()) << error;
        return path;
    }
    LauncherRun Run(const std::string& exe, const std::string& arguments = "")
    {
        LauncherRun run = RunAndWatch(exe, arguments, folder_);
        EXPECT_TRUE(run.Started) << exe;
        EXPECT_TRUE(run.Ended) << "the launcher did not end";
        return run;
    }

    // A variant that starts the test-double JVM with the test's main class, whose main calls the
    // double traces into folder_\\trace.txt.
    std::string JavaVariant(SettingOverrides overrides, const std::string& name)
    {
        std::string classes = folder_ + "\\classes";
        CreateDirectoryA(classes.c_str(), NULL);
        CreateDirectoryA((classes + "\\e2e").c_str(), NULL);
        HANDLE script = CreateFileA((classes + "\\e2e\\" + CurrentTestName() + ".script").c_str(), GENERIC_WRITE, 0,
                                    NULL, CREATE_ALWAYS, 0, NULL);
        EXPECT_NE(script, INVALID_HANDLE_VALUE);
        DWORD written = 0;
        WriteFile(script, "out ran\n", 8, &written, NULL);
        CloseHandle(script);
        SetEnvironmentVariableA("KESTRUN_JVM_TRACE", (folder_ + "\\trace.txt").c_str());
        overrides.insert({1040, DoubleJvmPath()});
        overrides.insert({1072, classes});
        return Variant(overrides, name);
    }
    // The main calls the double traced, each "class [arg][arg]...", and clears the trace.
    std::vector<std::string> MainCalls()
    {
        std::string path = folder_ + "\\trace.txt";
        std::vector<std::string> calls;
        FILE* trace = fopen(path.c_str(), "r");
        char line[4096];
        while (trace != NULL && fgets(line, sizeof(line), trace) != NULL) {
            std::string text = line;
            size_t at = text.find("] main ");
            if (at != std::string::npos)
                calls.push_back(text.substr(at + 7, text.find_last_not_of("\r\n") - at - 6));
        }
        if (trace != NULL)
            fclose(trace);
        DeleteFileA(path.c_str());
        return calls;
    }

    std::string MainClass() { return "e2e." + CurrentTestName(); }
    std::string MutexName() { return "e2e/" + CurrentTestName(); }

    std::string folder_;
};

// One report with exactly this caption and text.
void ExpectOneReport(const LauncherRun& run, const std::string& caption, const std::string& text)
{
    ASSERT_EQ(run.Reports.size(), 1u) << DescribeReports(run.Reports);
    EXPECT_EQ(run.Reports[0].Caption, caption);
    EXPECT_EQ(run.Reports[0].Text, text);
}

// Removes a service that an earlier, interrupted run of a test left installed.
void RemoveServiceIfInstalled(const std::string& name)
{
    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_ALL_ACCESS);
    ASSERT_NE(manager, (SC_HANDLE)NULL) << GetLastError();
    SC_HANDLE service = OpenServiceA(manager, name.c_str(), DELETE);
    if (service != NULL) {
        DeleteService(service);
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
}

bool MutexExists(const std::string& name)
{
    HANDLE mutex = OpenMutexA(SYNCHRONIZE, FALSE, name.c_str());
    if (mutex != NULL)
        CloseHandle(mutex);
    return mutex != NULL;
}

TEST_F(LauncherTest, ShippedLauncherReachesTheJvmStartAndFails)
{
    // The shipped launcher itself, unchanged (the only test that uses its main class app.Tamblor).
    LauncherRun run = Run(LauncherPath());
    ExpectOneReport(run, "Error", NoRuntime);
    EXPECT_EQ(run.ExitCode, ExitFailure);
}

TEST_F(LauncherTest, SecondInstanceIsRefusedWhileTheFirstRuns)
{
    std::string exe = Variant({});
    OpenLauncher first;
    ASSERT_TRUE(first.Start(exe, ""));
    ASSERT_TRUE(first.Watcher->WaitForCount(1, 10000)) << "the first instance shows its JVM report";
    EXPECT_TRUE(MutexExists(MutexName())) << "the mutex is named by the main class in slash form";

    LauncherRun second = Run(exe);
    ExpectOneReport(second, "Error", AlreadyRunning);
    EXPECT_EQ(second.ExitCode, 0u);

    EXPECT_EQ(first.CloseAndWait(), ExitFailure);
    EXPECT_FALSE(MutexExists(MutexName())) << "closed at the end of the run";
    LauncherRun third = Run(exe);
    ExpectOneReport(third, "Error", NoRuntime);
}

TEST_F(LauncherTest, AlreadyRunningMessageComesFromTheSettings)
{
    std::string exe = Variant({{1184, Scrambled("org.acme.Demo")}, {1536, "Demo is already open (100% sure)."}});
    OpenLauncher first;
    ASSERT_TRUE(first.Start(exe, ""));
    ASSERT_TRUE(first.Watcher->WaitForCount(1, 10000));
    EXPECT_TRUE(MutexExists("org/acme/Demo"));
    LauncherRun second = Run(exe);
    ExpectOneReport(second, "Error", "Demo is already open (100% sure).");
    first.CloseAndWait();
}

TEST_F(LauncherTest, AllowMultipleInstancesTakesNoMutex)
{
    std::string exe = Variant({{1376, "1"}});
    OpenLauncher first;
    ASSERT_TRUE(first.Start(exe, ""));
    ASSERT_TRUE(first.Watcher->WaitForCount(1, 10000));
    EXPECT_FALSE(MutexExists(MutexName()));
    LauncherRun second = Run(exe);
    ExpectOneReport(second, "Error", NoRuntime);
    EXPECT_EQ(second.ExitCode, ExitFailure);
    EXPECT_EQ(first.CloseAndWait(), ExitFailure);
}

TEST_F(LauncherTest, ProcessPriorityIsAppliedAndOutOfRangeIgnored)
{
    const std::pair<std::string, DWORD> cases[] = {
        {"4", BELOW_NORMAL_PRIORITY_CLASS}, {"2", ABOVE_NORMAL_PRIORITY_CLASS}, {"6", NORMAL_PRIORITY_CLASS},
        {"-1", NORMAL_PRIORITY_CLASS},      {"x", REALTIME_PRIORITY_CLASS}};
    for (const auto& [setting, expected] : cases) {
        std::string exe = Variant({{1504, setting}, {1376, "1"}}, "priority" + setting + ".exe");
        OpenLauncher launcher;
        ASSERT_TRUE(launcher.Start(exe, ""));
        ASSERT_TRUE(launcher.Watcher->WaitForCount(1, 10000));
        DWORD priority = GetPriorityClass(launcher.Process.hProcess);
        // Wine grants the realtime class to ordinary processes; Windows would give high without the privilege.
        EXPECT_EQ(priority, expected) << "ProcessPriority \"" << setting << "\"";
        launcher.CloseAndWait();
    }
}

TEST_F(LauncherTest, ServiceSwitchesNeedAServiceNameAndStandAlone)
{
    // Tests share the Wine session's service manager: the service is named after the test.
    const std::string service = "KestrunE2eSwitches";
    RemoveServiceIfInstalled(service);
    std::string withService = Variant({{1264, service}}, "service.exe");
    LauncherRun install = Run(withService, "-install");
    ExpectOneReport(install, "Information", "Service installed: " + service);
    EXPECT_EQ(install.ExitCode, 0u) << "a handled service switch always ends with 0";

    LauncherRun uninstall = Run(withService, "-uninstall");
    ExpectOneReport(uninstall, "Information", "Service uninstalled: " + service);
    EXPECT_EQ(uninstall.ExitCode, 0u);

    std::string javaWithService = JavaVariant({}, "javaservice.exe");
    LauncherRun extra = Run(javaWithService, "-install now");
    EXPECT_TRUE(extra.Reports.empty()) << DescribeReports(extra.Reports);
    EXPECT_EQ(extra.ExitCode, 0u) << "a switch with more tokens is an ordinary run";
    EXPECT_EQ(MainCalls(), std::vector<std::string>{"e2e/" + CurrentTestName() + " [-install][now]"});

    std::string noService = JavaVariant({{1264, ""}}, "plain.exe");
    LauncherRun ordinary = Run(noService, "-install");
    EXPECT_TRUE(ordinary.Reports.empty()) << DescribeReports(ordinary.Reports);
    EXPECT_EQ(ordinary.ExitCode, 0u);
    EXPECT_EQ(MainCalls(), std::vector<std::string>{"e2e/" + CurrentTestName() + " [-install]"})
        << "without ServiceName the switch goes to the program";
}

TEST_F(LauncherTest, ConfiguredSwitchesAreComparedExactly)
{
    const std::string service = "KestrunE2eCustomSwitch";
    RemoveServiceIfInstalled(service);
    std::string exe = Variant({{1120, "/setup"}, {1264, service}}, "switches.exe");
    LauncherRun custom = Run(exe, "/setup");
    ExpectOneReport(custom, "Information", "Service installed: " + service);
    ExpectOneReport(Run(exe, "-uninstall"), "Information", "Service uninstalled: " + service);
    LauncherRun shipped = Run(exe, "-install");
    ExpectOneReport(shipped, "Error", NoRuntime);
    LauncherRun otherCase = Run(exe, "/SETUP");
    ExpectOneReport(otherCase, "Error", NoRuntime);
}

TEST_F(LauncherTest, ServiceStartFromACommandPromptShowsNothing)
{
    LauncherRun run = Run(Variant({}), "-startlauncherinservicemode");
    EXPECT_TRUE(run.Reports.empty()) << DescribeReports(run.Reports);
    EXPECT_EQ(run.ExitCode, 0u);
}

TEST_F(LauncherTest, CleanupSwitchNeedsExactlyAProcessId)
{
    std::string exe = Variant({{1504, "4"}, {1376, "1"}});
    // The shipped archive carries no files: the cleanup child has nothing to remove and says nothing.
    LauncherRun child = Run(exe, "-krremovetemporaryjarfiles 12345");
    EXPECT_TRUE(child.Reports.empty()) << DescribeReports(child.Reports);
    EXPECT_EQ(child.ExitCode, 0u);

    LauncherRun threeTokens = Run(JavaVariant({{1376, "1"}}, "java.exe"), "-krremovetemporaryjarfiles 12345 more");
    EXPECT_TRUE(threeTokens.Reports.empty()) << DescribeReports(threeTokens.Reports);
    EXPECT_EQ(threeTokens.ExitCode, 0u) << "three tokens make an ordinary run";
    EXPECT_EQ(MainCalls(), std::vector<std::string>{"e2e/" + CurrentTestName() +
                                                    " [-krremovetemporaryjarfiles][12345][more]"});

    LauncherRun alone = Run(exe, "-krremovetemporaryjarfiles");
    ExpectOneReport(alone, "Error", NoRuntime);
}

TEST_F(LauncherTest, OddCommandLinesNeverCrashTheLauncher)
{
    std::string exe = Variant({{1376, "1"}});
    const std::string lines[] = {"\"unbalanced quote", "\"", "   ", "a\tb\t\"c d\"", "\"\" \"\" \"",
                                 std::string(30000, 'x'), "\"" + std::string(20000, ' ') + "\"",
                                 std::string(5000, ' ') + "a" + std::string(5000, ' ')};
    for (const std::string& line : lines) {
        LauncherRun run = Run(exe, line);
        ExpectOneReport(run, "Error", NoRuntime);
        EXPECT_EQ(run.ExitCode, ExitFailure) << "command line of " << line.size() << " characters";
    }
}

TEST_F(LauncherTest, HugeAndHostileSettingsAreHandled)
{
    std::string longName(65535, 'S');
    std::string exe = Variant({{1264, longName}, {1744, "%s %s %s %n %d"}, {1776, "Already: %s"},
                               {1056, std::string(65535, 'o')}, {1536, "%s%s%s%s%n"}});
    // Windows refuses the over-long name when asked whether it is installed (nothing is shown); Wine
    // calls it absent and then fails the creation, which shows the system's reason. Never installed.
    LauncherRun install = Run(exe, "-install");
    ASSERT_LE(install.Reports.size(), 1u) << DescribeReports(install.Reports);
    for (const SeenReport& report : install.Reports)
        EXPECT_EQ(report.Caption, "Error") << report.Text;
    EXPECT_EQ(install.ExitCode, 0u);
    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_CONNECT);
    ASSERT_NE(manager, (SC_HANDLE)NULL);
    SC_HANDLE service = OpenServiceA(manager, longName.substr(0, 256).c_str(), SERVICE_QUERY_STATUS);
    EXPECT_EQ(service, (SC_HANDLE)NULL) << "no service under the name cut to the system's limit";
    if (service != NULL)
        CloseServiceHandle(service);
    CloseServiceHandle(manager);

    OpenLauncher first;
    ASSERT_TRUE(first.Start(exe, ""));
    ASSERT_TRUE(first.Watcher->WaitForCount(1, 10000));
    LauncherRun second = Run(exe);
    // A message with conversions the launcher cannot fill shows itself as it stands.
    ExpectOneReport(second, "Error", "%s%s%s%s%n");
    first.CloseAndWait();
}

TEST_F(LauncherTest, BadlyScrambledMainClassesStillNameTheMutex)
{
    std::string lower = Scrambled("org.acme.Lower");
    for (char& c : lower)
        c = (char)tolower(c);
    const std::pair<std::string, std::string> cases[] = {
        {lower, "org/acme/Lower"},
        {Scrambled("org.acme.Odd") + "F", "org/acme/Odd"},
        {Scrambled(std::string(255, 'q')) + std::string(600, 'A'), std::string(255, 'q')},
    };
    int index = 0;
    for (const auto& [stored, mutexName] : cases) {
        std::string exe = Variant({{1184, stored}}, "main" + std::to_string(index++) + ".exe");
        OpenLauncher launcher;
        ASSERT_TRUE(launcher.Start(exe, ""));
        ASSERT_TRUE(launcher.Watcher->WaitForCount(1, 10000));
        EXPECT_TRUE(MutexExists(mutexName)) << mutexName;
        launcher.CloseAndWait();
    }
}

TEST_F(LauncherTest, RunsFromAFolderWithSpacesAndAnotherCurrentDirectory)
{
    std::string spaced = TestFolder("with spaces here");
    std::string error;
    std::string exe = MakeLauncherVariant(spaced, "my app.exe", {{1376, "1"}, {1104, "0"}}, &error);
    ASSERT_FALSE(exe.empty()) << error;
    LauncherRun run = RunAndWatch(exe, "one \"two three\"", folder_);
    ExpectOneReport(run, "Error", NoRuntime);
    EXPECT_EQ(run.ExitCode, ExitFailure);
}

} // namespace
