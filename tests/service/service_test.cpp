// The launcher as a Windows service under Wine's own service control manager: installation and
// removal through the switches, and the service runtime with the jvm.dll double as its Java.
#include "service.h"
#include "service_support.h"
#include "variant.h"
#include "watcher.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <stdlib.h>

#include <string>

namespace {

const char* const ServiceKey = "SYSTEM\\CurrentControlSet\\Services\\";
const char* const EventSourceKey = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\";

std::string CurrentTestName()
{
    return ::testing::UnitTest::GetInstance()->current_test_info()->name();
}

// A registry value of HKEY_LOCAL_MACHINE as type and bytes; type 0 when it is missing.
struct RegistryValue {
    DWORD Type = 0;
    std::string Data;
};

RegistryValue ReadValue(const std::string& key, const char* name)
{
    RegistryValue value;
    HKEY handle = NULL;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS)
        return value;
    char data[4096];
    DWORD size = sizeof(data);
    if (RegQueryValueExA(handle, name, NULL, &value.Type, (BYTE*)data, &size) == ERROR_SUCCESS)
        value.Data.assign(data, size);
    else
        value.Type = 0;
    RegCloseKey(handle);
    return value;
}

std::string SystemText(DWORD code)
{
    char text[1024] = "";
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL, code,
                   MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), text, sizeof(text), NULL);
    return text;
}

// One report with exactly this caption and text.
void ExpectOneReport(const LauncherRun& run, const std::string& caption, const std::string& text)
{
    EXPECT_TRUE(run.Ended);
    EXPECT_EQ(run.ExitCode, 0u) << "a service switch always ends with 0";
    ASSERT_EQ(run.Reports.size(), 1u) << DescribeReports(run.Reports);
    EXPECT_EQ(run.Reports[0].Caption, caption);
    EXPECT_EQ(run.Reports[0].Text, text);
}

class ServiceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        name_ = "KestrunSvc" + CurrentTestName();
        folder_ = TestFolder("service " + CurrentTestName());
        DeleteServiceIfPresent(name_);
    }
    void TearDown() override
    {
        SERVICE_STATUS_PROCESS status = {};
        if (QueryStatus(name_, &status) && status.dwCurrentState != SERVICE_STOPPED && status.dwProcessId != 0) {
            HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, status.dwProcessId);
            if (process != NULL) {
                TerminateProcess(process, 1);
                CloseHandle(process);
            }
        }
        DeleteServiceIfPresent(name_);
    }

    // A launcher for this test's service; settings are config lines of [launcher].
    std::string Launcher(const std::string& settings, const std::string& exeName = "service.exe",
                         const std::string& mainClass = "svc.App")
    {
        std::string config = "[launcher]\nMainClass = " + mainClass + "\nJvmPath = " + DoubleJvmPath() +
                             "\nJreSearchOrder = 0\nClassPath = classes\nServiceName = " + name_ + "\n" + settings;
        std::string error;
        std::string exe = BuildLauncher(folder_, exeName, config, &error);
        EXPECT_FALSE(exe.empty()) << error;
        return exe;
    }
    // Writes the script of the main class svc.App.
    void Script(const std::string& text)
    {
        CreateDirectoryA((folder_ + "\\classes").c_str(), NULL);
        CreateDirectoryA((folder_ + "\\classes\\svc").c_str(), NULL);
        ASSERT_TRUE(WriteWholeFile(folder_ + "\\classes\\svc\\App.script", text));
    }
    void Install(const std::string& exe)
    {
        ExpectOneReport(RunAndWatch(exe, "-install"), "Information", "Service installed: " + name_);
    }
    // Starts the service, which must then be running; returns its process (null on failure).
    HANDLE StartRunning(SERVICE_STATUS_PROCESS* status)
    {
        EXPECT_EQ(StartNamedService(name_), 0u);
        EXPECT_TRUE(QueryStatus(name_, status));
        EXPECT_EQ(status->dwCurrentState, (DWORD)SERVICE_RUNNING) << "running at once, before the JVM exists";
        return OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, status->dwProcessId);
    }
    std::string Message(const char* format)
    {
        char text[512];
        snprintf(text, sizeof(text), format, name_.c_str());
        return text;
    }
    // The lines of the trace whose text contains part.
    int TraceCount(const std::string& part)
    {
        std::string trace = ReadWholeFile(TraceFile());
        int count = 0;
        for (size_t at = trace.find(part); at != std::string::npos; at = trace.find(part, at + 1))
            count++;
        return count;
    }
    bool WaitForTrace(const std::string& part, DWORD timeoutMs)
    {
        for (DWORD start = GetTickCount(); TraceCount(part) == 0; Sleep(50))
            if (GetTickCount() - start > timeoutMs)
                return false;
        return true;
    }
    void ExpectStoppedWith(DWORD win32Code, DWORD specificCode)
    {
        SERVICE_STATUS_PROCESS status = {};
        ASSERT_TRUE(WaitForState(name_, SERVICE_STOPPED, 5000, &status));
        EXPECT_EQ(status.dwWin32ExitCode, win32Code);
        EXPECT_EQ(status.dwServiceSpecificExitCode, specificCode);
        EXPECT_EQ(status.dwWaitHint, 0u);
        EXPECT_EQ(status.dwServiceType, (DWORD)SERVICE_WIN32_OWN_PROCESS);
    }

    std::string name_;
    std::string folder_;
};

TEST(DependencyListTest, SemicolonsBecomeNulsAndAnEmptyEntryEndsTheList)
{
    const std::pair<std::string, std::string> cases[] = {
        {"Tcpip", std::string("Tcpip\0\0", 7)},
        {"Tcpip;Dnscache", std::string("Tcpip\0Dnscache\0\0", 16)},
        {"a;;b", std::string("a\0\0b\0\0", 6)},
        {";a", std::string("\0a\0\0", 4)},
        {"a;", std::string("a\0\0\0", 4)},
    };
    for (const auto& [text, expected] : cases) {
        char* list = BuildDependencyList(text.c_str());
        ASSERT_NE(list, nullptr);
        EXPECT_EQ(std::string(list, text.size() + 2), expected) << text;
        free(list);
    }
}

TEST_F(ServiceTest, InstallRegistersTheServiceAndItsEventSource)
{
    // The test folder's name holds a space, and so does the executable's.
    std::string exe = Launcher("ServiceDescription = Runs the %SystemRoot% demo\nServiceDemandStart = 0\n"
                               "ServiceInteractive = 1\nServiceDependencies = KestrunDepA;KestrunDepB\n",
                               "my service.exe");
    Install(exe);
    std::string config = DescribeServiceConfig(name_);
    EXPECT_EQ(config, "type=272 start=2 error=1 path=\"" + exe + "\" -startlauncherinservicemode display=" + name_ +
                          " account=LocalSystem");
    RegistryValue dependencies = ReadValue(ServiceKey + name_, "DependOnService");
    EXPECT_EQ(dependencies.Type, (DWORD)REG_MULTI_SZ);
    // Wine's CreateServiceA keeps only the first name of the list intact (its CreateServiceW keeps
    // all); the whole list the launcher passes is checked by DependencyListTest.
    EXPECT_EQ(dependencies.Data.substr(0, 12), std::string("KestrunDepA\0", 12));
    RegistryValue description = ReadValue(ServiceKey + name_, "Description");
    EXPECT_EQ(description.Type, (DWORD)REG_EXPAND_SZ);
    EXPECT_EQ(description.Data, std::string("Runs the %SystemRoot% demo", 27)) << "stored with its NUL";
    RegistryValue messageFile = ReadValue(EventSourceKey + name_, "EventMessageFile");
    EXPECT_EQ(messageFile.Type, (DWORD)REG_EXPAND_SZ);
    EXPECT_EQ(messageFile.Data, exe + std::string(1, '\0'));
    RegistryValue types = ReadValue(EventSourceKey + name_, "TypesSupported");
    EXPECT_EQ(types.Type, (DWORD)REG_DWORD);
    EXPECT_EQ(types.Data, std::string("\x07\0\0\0", 4));

    // A second installation, from another copy, changes nothing.
    std::string other = Launcher("ServiceDescription = other\n", "other.exe");
    ExpectOneReport(RunAndWatch(other, "-install"), "Error", "Service is already installed: " + name_);
    EXPECT_EQ(DescribeServiceConfig(name_), config);
    EXPECT_EQ(ReadValue(ServiceKey + name_, "Description").Data, description.Data);
    EXPECT_EQ(ReadValue(EventSourceKey + name_, "EventMessageFile").Data, messageFile.Data);

    ExpectOneReport(RunAndWatch(exe, "-uninstall"), "Information", "Service uninstalled: " + name_);
    EXPECT_EQ(DescribeServiceConfig(name_), "") << "the service is gone";
    EXPECT_EQ(ReadValue(EventSourceKey + name_, "EventMessageFile").Data, messageFile.Data) << "the source stays";
    EXPECT_EQ(ReadValue(EventSourceKey + name_, "TypesSupported").Type, (DWORD)REG_DWORD);

    ExpectOneReport(RunAndWatch(exe, "-uninstall"), "Error", SystemText(ERROR_SERVICE_DOES_NOT_EXIST));
}

TEST_F(ServiceTest, DefaultsInstallADemandStartOwnProcessServiceWithoutExtras)
{
    std::string exe = Launcher("");
    Install(exe);
    EXPECT_EQ(DescribeServiceConfig(name_), "type=16 start=3 error=1 path=\"" + exe +
                                                "\" -startlauncherinservicemode display=" + name_ +
                                                " account=LocalSystem");
    EXPECT_EQ(ReadValue(ServiceKey + name_, "DependOnService").Type, 0u) << "no dependencies";
    EXPECT_EQ(ReadValue(ServiceKey + name_, "Description").Type, 0u) << "no description value";
    ExpectOneReport(RunAndWatch(exe, "-uninstall"), "Information", "Service uninstalled: " + name_);
}

TEST_F(ServiceTest, StopByExitEndsTheProcessWithTheExitHook)
{
    Script("out started with {args} on {thread}\nsleep 600000\n");
    std::string exe = Launcher("ServiceStartArgs = serve \"on port\" 8080\nServiceStopByExit = 1\nStdoutMode = 1\n"
                               "StdoutFile = " + folder_ + "\\out.log\n");
    Install(exe);
    DeleteFileA(TraceFile().c_str());
    size_t mark = EventLogMark();
    SERVICE_STATUS_PROCESS status = {};
    HANDLE process = StartRunning(&status);
    ASSERT_NE(process, (HANDLE)NULL);
    ASSERT_TRUE(WaitForTrace("[main] main svc/App [serve][on port][8080]", 10000)) << ReadWholeFile(TraceFile());

    SERVICE_STATUS answer = {};
    ASSERT_EQ(ControlNamedService(name_, SERVICE_CONTROL_STOP, &answer), 0u);
    EXPECT_EQ(WaitForSingleObject(process, 10000), WAIT_OBJECT_0) << "the exit hook ends the process";
    DWORD exitCode = 1;
    GetExitCodeProcess(process, &exitCode);
    CloseHandle(process);
    EXPECT_EQ(exitCode, 0u);
    ExpectStoppedWith(0, 0);
    ASSERT_TRUE(WaitForEvent(mark, Message("The %s service has stopped."), 5000));
    std::vector<EventLine> events = EventsSince(mark);
    ASSERT_EQ(events.size(), 2u) << DescribeEvents(events);
    EXPECT_EQ(events[0].Type, "trace");
    EXPECT_EQ(events[0].Text, Message("The %s service has started."));
    EXPECT_EQ(events[1].Type, "trace");
    EXPECT_EQ(TraceCount("[Kestrun stopper thread] jvm AttachCurrentThread name=\"Kestrun stopper thread\""), 1);
    EXPECT_EQ(TraceCount("exit-hook 0"), 1);
    EXPECT_EQ(ReadWholeFile(folder_ + "\\out.log"), "started with [serve][on port][8080] on main\r\n");
}

TEST_F(ServiceTest, StopArgumentsRunASecondMainOnTheStopperThread)
{
    Script("stop-on halt now\nout started with {args}\nwait-stop\nout stopping\n");
    std::string exe = Launcher("ServiceStartArgs = serve\nServiceStopArgs = halt now\nStdoutMode = 1\n"
                               "StdoutFile = " + folder_ + "\\out.log\n");
    Install(exe);
    DeleteFileA(TraceFile().c_str());
    size_t mark = EventLogMark();
    SERVICE_STATUS_PROCESS status = {};
    HANDLE process = StartRunning(&status);
    ASSERT_NE(process, (HANDLE)NULL);
    ASSERT_TRUE(WaitForTrace("[main] main svc/App [serve]", 10000)) << ReadWholeFile(TraceFile());

    // The status is answered unchanged, however often it is asked for.
    SERVICE_STATUS answer = {};
    ASSERT_EQ(ControlNamedService(name_, SERVICE_CONTROL_INTERROGATE, &answer), 0u);
    EXPECT_EQ(answer.dwCurrentState, (DWORD)SERVICE_RUNNING);
    EXPECT_EQ(answer.dwControlsAccepted, (DWORD)(SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN));
    EXPECT_EQ(answer.dwWaitHint, 0u);

    ASSERT_EQ(ControlNamedService(name_, SERVICE_CONTROL_STOP, &answer), 0u);
    EXPECT_EQ(WaitForSingleObject(process, 10000), WAIT_OBJECT_0) << ReadWholeFile(TraceFile());
    DWORD exitCode = 1;
    GetExitCodeProcess(process, &exitCode);
    CloseHandle(process);
    EXPECT_EQ(exitCode, 0u);
    ExpectStoppedWith(0, 0);
    EXPECT_EQ(TraceCount("[Kestrun stopper thread] stop-call svc/App"), 1) << ReadWholeFile(TraceFile());
    EXPECT_EQ(TraceCount("[main] main-end svc/App returned"), 1);
    // The second main call leaves the streams alone: the log the running program writes keeps its lines.
    EXPECT_EQ(TraceCount("open " + folder_ + "\\out.log"), 1) << ReadWholeFile(TraceFile());
    EXPECT_EQ(TraceCount("] System.setOut "), 2) << "the hidden console's, then the log's";
    EXPECT_EQ(ReadWholeFile(folder_ + "\\out.log"), "started with [serve]\r\nstopping\r\n");
    ASSERT_TRUE(WaitForEvent(mark, Message("The %s service has stopped."), 5000));
    std::vector<EventLine> events = EventsSince(mark);
    ASSERT_EQ(events.size(), 2u) << DescribeEvents(events);
    EXPECT_EQ(events[0].Text, Message("The %s service has started."));
}

TEST_F(ServiceTest, EmptyStopArgumentsGiveTheSecondMainTheConfiguredArguments)
{
    Script("stop-on from settings\nwait-stop\n");
    std::string exe = Launcher("ServiceStartArgs = serve\nAppOptions = from settings\n");
    Install(exe);
    DeleteFileA(TraceFile().c_str());
    SERVICE_STATUS_PROCESS status = {};
    HANDLE process = StartRunning(&status);
    ASSERT_NE(process, (HANDLE)NULL);
    ASSERT_TRUE(WaitForTrace("[main] main svc/App [serve]", 10000)) << ReadWholeFile(TraceFile());
    SERVICE_STATUS answer = {};
    ASSERT_EQ(ControlNamedService(name_, SERVICE_CONTROL_STOP, &answer), 0u);
    EXPECT_EQ(WaitForSingleObject(process, 10000), WAIT_OBJECT_0) << ReadWholeFile(TraceFile());
    CloseHandle(process);
    EXPECT_EQ(TraceCount("[Kestrun stopper thread] main svc/App [from][settings]"), 1) << ReadWholeFile(TraceFile());
    ExpectStoppedWith(0, 0);
}

TEST_F(ServiceTest, ApplicationThreadsKeepTheServiceRunningUntilTheyEnd)
{
    Script("thread worker\n  wait-stop\n  out worker done\nend\nstop-on finish\n");
    std::string exe = Launcher("ServiceStartArgs = serve\nServiceStopArgs = finish\n");
    Install(exe);
    DeleteFileA(TraceFile().c_str());
    size_t mark = EventLogMark();
    SERVICE_STATUS_PROCESS status = {};
    HANDLE process = StartRunning(&status);
    ASSERT_NE(process, (HANDLE)NULL);
    ASSERT_TRUE(WaitForTrace("[main] main-end svc/App returned", 10000)) << ReadWholeFile(TraceFile());
    EXPECT_EQ(WaitForSingleObject(process, 500), (DWORD)WAIT_TIMEOUT) << "main returned, its thread still works";
    ASSERT_TRUE(QueryStatus(name_, &status));
    EXPECT_EQ(status.dwCurrentState, (DWORD)SERVICE_RUNNING);

    SERVICE_STATUS answer = {};
    ASSERT_EQ(ControlNamedService(name_, SERVICE_CONTROL_STOP, &answer), 0u);
    EXPECT_EQ(WaitForSingleObject(process, 10000), WAIT_OBJECT_0) << ReadWholeFile(TraceFile());
    CloseHandle(process);
    EXPECT_EQ(TraceCount("[worker] thread-end"), 1) << ReadWholeFile(TraceFile());
    ExpectStoppedWith(0, 0);
    ASSERT_TRUE(WaitForEvent(mark, Message("The %s service has stopped."), 5000)) << DescribeEvents(EventsSince(mark));
}

TEST_F(ServiceTest, MissingMainClassFailsTheStartWithTheServiceSpecificCode)
{
    std::string exe = Launcher("", "service.exe", "svc.Missing");
    Install(exe);
    DeleteFileA(TraceFile().c_str());
    size_t mark = EventLogMark();
    // Wine refuses the start (1053) when the stopped report comes before the running one: success here
    // shows that the service declared itself running before the JVM failed.
    ASSERT_EQ(StartNamedService(name_), 0u);
    ExpectStoppedWith(ERROR_SERVICE_SPECIFIC_ERROR, 1013);
    ASSERT_TRUE(WaitForEvent(mark, Message("The %s service failed to start."), 5000)) << DescribeEvents(EventsSince(mark));
    std::vector<EventLine> events = EventsSince(mark);
    ASSERT_EQ(events.size(), 3u) << DescribeEvents(events);
    EXPECT_EQ(events[0].Type, "trace");
    EXPECT_EQ(events[0].Text, Message("The %s service has started."));
    EXPECT_EQ(events[1].Type, "err");
    EXPECT_EQ(events[1].Text, "Error locating class: svc/Missing");
    EXPECT_EQ(events[2].Type, "err");
    EXPECT_GE(TraceCount("jni FindClass svc/Missing"), 1) << "the JVM existed when the class was looked for";
}

TEST_F(ServiceTest, ApplicationIgnoringTheStopIsEndedByTheWatchdog)
{
    Script("stop-ignore halt\nout started\nsleep 600000\n");
    std::string exe = Launcher("ServiceStopArgs = halt\n");
    Install(exe);
    DeleteFileA(TraceFile().c_str());
    size_t mark = EventLogMark();
    SERVICE_STATUS_PROCESS status = {};
    HANDLE process = StartRunning(&status);
    ASSERT_NE(process, (HANDLE)NULL);
    ASSERT_TRUE(WaitForTrace("[main] main svc/App", 10000)) << ReadWholeFile(TraceFile());

    SERVICE_STATUS answer = {};
    DWORD stopAt = GetTickCount();
    ASSERT_EQ(ControlNamedService(name_, SERVICE_CONTROL_STOP, &answer), 0u);
    EXPECT_EQ(answer.dwCurrentState, (DWORD)SERVICE_STOP_PENDING);
    EXPECT_EQ(answer.dwWaitHint, 40000u);
    ASSERT_TRUE(WaitForTrace("[Kestrun stopper thread] stop-call svc/App ignored", 5000)) << ReadWholeFile(TraceFile());
    // The service manager itself refuses controls while a stop is pending (1061), so the status is read.
    ASSERT_TRUE(QueryStatus(name_, &status));
    EXPECT_EQ(status.dwCurrentState, (DWORD)SERVICE_STOP_PENDING);
    EXPECT_EQ(status.dwWaitHint, 40000u);

    ASSERT_EQ(WaitForSingleObject(process, 40000), WAIT_OBJECT_0) << "gone before the wait hint expires";
    DWORD elapsed = GetTickCount() - stopAt;
    CloseHandle(process);
    EXPECT_GE(elapsed, 29500u);
    EXPECT_LT(elapsed, 40000u);
    ExpectStoppedWith(0, 0);
    ASSERT_TRUE(WaitForEvent(mark, Message("The %s service has stopped."), 5000));
    std::vector<EventLine> events = EventsSince(mark);
    ASSERT_EQ(events.size(), 3u) << DescribeEvents(events);
    EXPECT_EQ(events[1].Type, "err");
    EXPECT_EQ(events[1].Text, Message("The %s service has timed out during a stop request and will be terminated."));
    EXPECT_EQ(events[2].Type, "trace");
}

} // namespace

namespace {

TEST_F(ServiceTest, CapturedStopCallOpensNoSecondPipe)
{
    Script("stop-on halt\nout started\nerr warming up\nwait-stop\nout stopping\n");
    std::string exe = Launcher("ServiceStopArgs = halt\nStdoutMode = 2\nStderrMode = 2\n");
    Install(exe);
    DeleteFileA(TraceFile().c_str());
    SERVICE_STATUS_PROCESS status = {};
    HANDLE process = StartRunning(&status);
    ASSERT_NE(process, (HANDLE)NULL);
    ASSERT_TRUE(WaitForTrace("[main] main svc/App", 10000)) << ReadWholeFile(TraceFile());
    SERVICE_STATUS answer = {};
    ASSERT_EQ(ControlNamedService(name_, SERVICE_CONTROL_STOP, &answer), 0u);
    EXPECT_EQ(WaitForSingleObject(process, 10000), WAIT_OBJECT_0) << ReadWholeFile(TraceFile());
    CloseHandle(process);
    ExpectStoppedWith(0, 0);
    EXPECT_EQ(TraceCount("[Kestrun stopper thread] stop-call svc/App"), 1) << ReadWholeFile(TraceFile());
    // Each stream's pipe was opened once, by the service's own run; the stop call opened nothing.
    EXPECT_EQ(TraceCount("open \\\\.\\pipe\\setOut"), 1) << ReadWholeFile(TraceFile());
    EXPECT_EQ(TraceCount("open \\\\.\\pipe\\setErr"), 1) << ReadWholeFile(TraceFile());
    EXPECT_EQ(TraceCount("open \\\\.\\pipe\\"), 2);
}

TEST_F(ServiceTest, FailedMainLogsItsCapturedOutputAsDetails)
{
    Script("err loading settings\nerr settings missing\nthrow java.lang.IllegalStateException no settings\n");
    std::string exe = Launcher("StderrMode = 2\n");
    Install(exe);
    size_t mark = EventLogMark();
    ASSERT_EQ(StartNamedService(name_), 0u);
    ExpectStoppedWith(ERROR_SERVICE_SPECIFIC_ERROR, 1013);
    ASSERT_TRUE(WaitForEvent(mark, Message("The %s service failed to start."), 5000)) << DescribeEvents(EventsSince(mark));
    std::vector<EventLine> events = EventsSince(mark);
    ASSERT_EQ(events.size(), 3u) << DescribeEvents(events);
    EXPECT_EQ(events[1].Type, "err");
    const std::string expected = "Error invoking method: main(java/lang/String[])\n\nDetails:\n"
                                 "loading settings\r\nsettings missing\r\n"
                                 "java.lang.IllegalStateException: no settings\r\n";
    EXPECT_EQ(events[1].Text.substr(0, expected.size()), expected) << events[1].Text;
    EXPECT_NE(events[1].Text.find("\tat svc.App.main("), std::string::npos) << events[1].Text;
}

} // namespace
