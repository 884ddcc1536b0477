// The launcher as a Windows service under Wine's own service control manager: installation and
// removal through the switches, and the service runtime with the jvm.dll double as its Java.
#include "e2e.h"

namespace {

// A value under HKEY_LOCAL_MACHINE as "type:bytes"; "" when it is missing.
std::string RegistryValue(const std::string& key, const char* name)
{
    char data[1024];
    DWORD type = 0, size = sizeof(data);
    LONG status = RegGetValueA(HKEY_LOCAL_MACHINE, key.c_str(), name, RRF_RT_ANY | RRF_NOEXPAND, &type, data, &size);
    return status == ERROR_SUCCESS ? std::to_string(type) + ":" + std::string(data, size) : "";
}

class ServiceTest : public E2eTest {
protected:
    void SetUp() override
    {
        E2eTest::SetUp();
        keys_["ServiceName"] = service_ = "KrSvc" + name_;
        // A service takes its environment from the service manager, which names the session's trace.
        trace_ = WindowsPath(getenv("KESTRUN_SESSION")) + "\\jvm-trace.txt";
        SetEnvironmentVariableA("KESTRUN_JVM_TRACE", trace_.c_str());
        Remove();
    }
    void TearDown() override { Remove(); }

    // Opens the service with access and calls call on it; 0 or the system's error code.
    DWORD Call(DWORD access, const std::function<BOOL(SC_HANDLE)>& call)
    {
        SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_CONNECT);
        SC_HANDLE service = manager == NULL ? NULL : OpenServiceA(manager, service_.c_str(), access);
        DWORD error = service != NULL && call(service) ? 0 : GetLastError();
        CloseServiceHandle(service);
        CloseServiceHandle(manager);
        return error;
    }
    SERVICE_STATUS_PROCESS Status()
    {
        SERVICE_STATUS_PROCESS status = {};
        DWORD size = 0;
        Call(SERVICE_QUERY_STATUS, [&](SC_HANDLE service) {
            return QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, (BYTE*)&status, sizeof(status), &size);
        });
        return status;
    }
    // The stored configuration: "type start error account path"; "" when the service does not exist.
    std::string Config()
    {
        std::string text;
        Call(SERVICE_QUERY_CONFIG, [&](SC_HANDLE service) {
            std::vector<BYTE> buffer(8192);
            auto* config = (QUERY_SERVICE_CONFIGA*)buffer.data();
            DWORD needed = 0;
            BOOL ok = QueryServiceConfigA(service, config, (DWORD)buffer.size(), &needed);
            if (ok)
                text = std::to_string(config->dwServiceType) + " " + std::to_string(config->dwStartType) + " " +
                       std::to_string(config->dwErrorControl) + " " + config->lpServiceStartName + " " +
                       config->lpBinaryPathName;
            return ok;
        });
        return text;
    }
    // Ends what a failed case left running and deletes the service.
    void Remove()
    {
        SERVICE_STATUS_PROCESS status = Status();
        HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, status.dwProcessId);
        if (process != NULL && status.dwCurrentState != SERVICE_STOPPED && TerminateProcess(process, 1))
            WaitForSingleObject(process, 10000);
        CloseHandle(process);
        Call(DELETE, DeleteService);
    }
    // The one report of a switch, and its exit code: 0, or 1 when installing or removing failed.
    void ExpectReport(const LauncherRun& run, const std::string& caption, const std::string& text, DWORD code = 0)
    {
        EXPECT_EQ(run.ExitCode, code);
        ASSERT_EQ(run.Reports.size(), 1u) << DescribeReports(run.Reports);
        EXPECT_EQ(run.Reports[0].Caption + ": " + run.Reports[0].Text, caption + ": " + text);
    }
    // Installs a launcher made with changes and starts the service; its process (null on failure).
    HANDLE InstallAndStart(const LauncherKeys& changes)
    {
        ExpectReport(Run(Build(changes), "-install"), "Information", "Service installed: " + service_);
        mark_ = EventLogMark();
        EXPECT_EQ(Call(SERVICE_START, [](SC_HANDLE service) { return StartServiceA(service, 0, NULL); }), 0u);
        return OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, Status().dwProcessId);
    }
    // Sends the stop control and waits for the process's end: its exit code, or -1.
    DWORD StopAndWait(HANDLE process)
    {
        DWORD exitCode = (DWORD)-1;
        SERVICE_STATUS answer = {};
        auto stop = [&](SC_HANDLE service) { return ControlService(service, SERVICE_CONTROL_STOP, &answer); };
        EXPECT_EQ(Call(SERVICE_STOP, stop), 0u);
        if (WaitForSingleObject(process, 60000) != WAIT_OBJECT_0 || !GetExitCodeProcess(process, &exitCode))
            exitCode = (DWORD)-1;
        CloseHandle(process);
        ExpectStoppedWith(0, 0);
        return exitCode;
    }
    bool WaitForTrace(const std::string& line)
    {
        return WaitFor([&] { return ReadFile(trace_).find(line + "\n") != std::string::npos; });
    }
    // An entry of the service's own: type, ": The ", the service's name and text.
    std::string Entry(const std::string& type, const std::string& text) { return type + ": The " + service_ + text; }
    // Waits for as many entries as expected since the start, then compares them all, as "type: text".
    void ExpectEvents(const std::vector<std::string>& expected)
    {
        WaitFor([&] { return EventsSince(mark_).size() >= expected.size(); });
        std::vector<std::string> events;
        for (const EventLine& event : EventsSince(mark_)) {
            std::string text = event.Type + ": " + event.Text;
            // Wine prints about 300 characters of an entry and marks the cut with "...: its start is compared.
            bool cut = text.size() > 4 && text.substr(text.size() - 4) == "\"..." && events.size() < expected.size();
            events.push_back(cut ? text.substr(0, expected[events.size()].size()) : text);
        }
        EXPECT_EQ(events, expected);
    }
    void ExpectStoppedWith(DWORD win32Code, DWORD specificCode)
    {
        ASSERT_TRUE(WaitFor([&] { return Status().dwCurrentState == SERVICE_STOPPED; }, 60000));
        EXPECT_EQ(Status().dwWin32ExitCode, win32Code);
        EXPECT_EQ(Status().dwServiceSpecificExitCode, specificCode);
    }

    std::string service_;
    size_t mark_ = 0;
};

TEST_F(ServiceTest, SwitchesInstallAndRemoveTheServiceAsConfigured)
{
    // Wine's CreateServiceA stores only the first name of a dependency list (its CreateServiceW keeps all).
    struct Row {
        LauncherKeys changes;
        std::string exeName, install, uninstall, config, dependencies, description;
    } const rows[] = {
        {{{"ServiceDescription", "Runs the %SystemRoot% demo"}, {"ServiceDemandStart", "0"},
          {"ServiceInteractive", "1"}, {"ServiceDependencies", "KrDepA;KrDepB"}, {"InstallSwitch", "/setup"},
          {"UninstallSwitch", "/remove"}, {"ServiceSwitch", "-svc"}},
         "my service.exe", "/setup", "/remove", "272 2 1 LocalSystem \"" + folder_ + "\\my service.exe\" -svc",
         std::string("7:KrDepA\0\0", 10), std::string("1:Runs the %SystemRoot% demo\0", 29)},
        {{}, "app.exe", "-install", "-uninstall",
         "16 3 1 LocalSystem \"" + folder_ + "\\app.exe\" -startlauncherinservicemode", "", ""},
    };
    const std::string key = "SYSTEM\\CurrentControlSet\\Services\\" + service_;
    const std::string source = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\" + service_;
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, source.c_str());
    for (const Row& row : rows) {
        SCOPED_TRACE(row.exeName);
        std::string exe = Build(row.changes, row.exeName);
        ExpectReport(Run(exe, row.install), "Information", "Service installed: " + service_);
        EXPECT_EQ(Config(), row.config);
        EXPECT_EQ(RegistryValue(key, "DependOnService"), row.dependencies);
        EXPECT_EQ(RegistryValue(key, "Description"), row.description);
        EXPECT_EQ(RegistryValue(source, "EventMessageFile"), "2:" + exe + std::string(1, '\0'));
        EXPECT_EQ(RegistryValue(source, "TypesSupported"), std::string("4:\x07\0\0\0", 6));
        ExpectReport(Run(exe, row.install), "Error", "Service is already installed: " + service_, 1);
        ExpectReport(Run(exe, row.uninstall), "Information", "Service uninstalled: " + service_);
        EXPECT_EQ(Config(), "");
        ExpectReport(Run(exe, row.uninstall), "Error", SystemText(ERROR_SERVICE_DOES_NOT_EXIST), 1);
        // Removal leaves the event-log source.
        EXPECT_EQ(RegistryValue(source, "TypesSupported"), std::string("4:\x07\0\0\0", 6));
    }
}

TEST_F(ServiceTest, OnlyTheExactSwitchAloneActsAndOnlyWithAServiceName)
{
    Script("out ran\n");
    struct Row { LauncherKeys changes; std::string arguments, received; } const rows[] = {
        {{}, "-INSTALL", "[-INSTALL]"},
        {{}, "-Uninstall", "[-Uninstall]"},
        {{}, "-StartLauncherInServiceMode", "[-StartLauncherInServiceMode]"},
        {{}, "-install extra", "[-install][extra]"},
        {{{"InstallSwitch", "/setup"}}, "-install", "[-install]"},
        {{{"ServiceName", ""}}, "-install", "[-install]"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.arguments);
        LauncherRun run = Run(Build(row.changes), row.arguments);
        ExpectNoReports(run);
        EXPECT_EQ(TraceLines(trace_, "main "), std::vector<std::string>{SlashClass() + " " + row.received});
    }
}

TEST_F(ServiceTest, StopByExitEndsTheProcessThroughTheExitHook)
{
    Script("sleep 600000\n");
    HANDLE process = InstallAndStart({{"ServiceStopByExit", "1"}, {"ServiceStartArgs", "serve \"on port\""}});
    ASSERT_TRUE(WaitForTrace("[main] main " + SlashClass() + " [serve][on port]")) << ReadFile(trace_);
    EXPECT_EQ(StopAndWait(process), 0u) << ReadFile(trace_);
    EXPECT_TRUE(WaitForTrace("[VM Thread] exit-hook 0")) << ReadFile(trace_);
    ExpectEvents({Entry("trace", " service has started."), Entry("trace", " service has stopped.")});
}

TEST_F(ServiceTest, StopArgumentsGoToASecondMainCallOnTheStopperThread)
{
    // Empty stop arguments: the second main call gets AppOptions.
    struct Row { std::string stopArgs, script; } const rows[] = {{"halt now", "stop-on halt now"},
                                                                 {"", "stop-on from settings"}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.script);
        Remove();
        Script(row.script + "\nwait-stop\n");
        HANDLE process = InstallAndStart(
            {{"ServiceStartArgs", "serve"}, {"ServiceStopArgs", row.stopArgs}, {"AppOptions", "from settings"}});
        ASSERT_TRUE(WaitForTrace("[main] main " + SlashClass() + " [serve]")) << ReadFile(trace_);
        EXPECT_EQ(StopAndWait(process), 0u) << ReadFile(trace_);
        EXPECT_TRUE(WaitForTrace("[Kestrun stopper thread] stop-call " + SlashClass()));
        ExpectEvents({Entry("trace", " service has started."), Entry("trace", " service has stopped.")});
    }
}

TEST_F(ServiceTest, ApplicationThreadsKeepTheServiceRunningUntilTheyEnd)
{
    Script("stop-on finish\nthread worker\n  wait-stop\nend\n");
    HANDLE process = InstallAndStart({{"ServiceStartArgs", "serve"}, {"ServiceStopArgs", "finish"}});
    // main has returned and the launcher waits in DestroyJavaVM for the application's thread: the stop
    // finds the service running (else 1062).
    ASSERT_TRUE(WaitForTrace("[-] jvm DestroyJavaVM")) << ReadFile(trace_);
    EXPECT_EQ(StopAndWait(process), 0u) << ReadFile(trace_);
    ExpectEvents({Entry("trace", " service has started."), Entry("trace", " service has stopped.")});
}

TEST_F(ServiceTest, ApplicationIgnoringTheStopIsEndedByTheWatchdog)
{
    Script("stop-ignore halt\nsleep 600000\n");
    HANDLE process = InstallAndStart({{"ServiceStartArgs", "serve"}, {"ServiceStopArgs", "halt"}});
    ASSERT_TRUE(WaitForTrace("[main] main " + SlashClass() + " [serve]")) << ReadFile(trace_);
    DWORD stopAt = GetTickCount();
    EXPECT_EQ(StopAndWait(process), 0u) << ReadFile(trace_);
    EXPECT_GE(GetTickCount() - stopAt, 29000u) << "ended before the watchdog's 30 s";
    EXPECT_TRUE(WaitForTrace("[Kestrun stopper thread] stop-call " + SlashClass() + " ignored")) << ReadFile(trace_);
    ExpectEvents({Entry("trace", " service has started."),
                  Entry("err", " service has timed out during a stop request and will be terminated."),
                  Entry("trace", " service has stopped.")});
}

// Wine's StartService gives 1053 when a service reports stopped before running: here it succeeds, also
// when the JVM cannot even be created.
TEST_F(ServiceTest, FailedStartEndsWithTheServiceSpecificCodeAndLogsTheDetails)
{
    struct Row { LauncherKeys changes; std::string report; } const rows[] = {
        {{{"JvmOptions", "-bogus"}}, "err: Unable to create JVM instance using " + DoubleJvmPath() +
                                         "\n\nDetails:\nUnrecognized option: -bogus\n"
                                         "Error: Could not create the Java Virtual Machine.\n"},
        {{{"MainClass", "svc.Missing"}, {"StdoutMode", "2"}, {"StderrMode", "2"}},
         "err: Error locating class: svc/Missing\n\nDetails:\njava.lang.NoClassDefFoundError: svc/Missing\r\n"
         "Caused by: java.lang.ClassNotFoundException: svc.Missing\r\n\tat "},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.report);
        Remove();
        CloseHandle(InstallAndStart(row.changes));
        ExpectStoppedWith(ERROR_SERVICE_SPECIFIC_ERROR, 1013);
        ExpectEvents({Entry("trace", " service has started."), row.report, Entry("err", " service failed to start.")});
    }
}

} // namespace
