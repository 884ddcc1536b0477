// The launcher as a Windows service under Wine's own service control manager: installation and
// removal through the switches, and the service runtime with the jvm.dll double as its Java.
#include "e2e.h"

// A value under HKEY_LOCAL_MACHINE as "type:bytes"; "" when it is missing.
static std::string RegistryValue(const std::string& key, const char* name)
{
    char data[1024];
    DWORD type = 0, size = sizeof(data);
    LONG status = RegGetValueA(HKEY_LOCAL_MACHINE, key.c_str(), name, RRF_RT_ANY | RRF_NOEXPAND, &type, data, &size);
    return status == ERROR_SUCCESS ? std::to_string(type) + ":" + std::string(data, size) : "";
}

struct ServiceTest : E2eTest {
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
    // The one report of a switch ("caption: text"), and its exit code: 0, or 1 when installing or removing failed.
    void ExpectReport(const LauncherRun& run, const std::string& shown, DWORD code = 0)
    {
        EXPECT_EQ(run.ExitCode, code);
        ASSERT_EQ(run.Reports.size(), 1u) << DescribeReports(run.Reports);
        EXPECT_EQ(run.Reports[0].Caption + ": " + run.Reports[0].Text, shown);
    }
    // Installs a launcher made with changes, after removing any service of the test, and starts the
    // service; its process (null on failure).
    HANDLE InstallAndStart(const LauncherKeys& changes, const std::string& archive = "")
    {
        Remove();
        std::string exe = Build(changes), error;
        ExpectReport(Run(exe, "-install"), "Information: Service installed: " + service_);
        EXPECT_TRUE(archive.empty() || WriteRawData(exe, 16000, archive, &error)) << error;
        mark_ = EventLogMark();
        EXPECT_EQ(Call(SERVICE_START, [](SC_HANDLE service) { return StartServiceA(service, 0, NULL); }), 0u);
        return OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, Status().dwProcessId);
    }
    bool WaitForTrace(const std::string& line)
    {
        return WaitFor([&] { return ReadFile(trace_).find(line + "\n") != std::string::npos; });
    }
    // An entry of the service's own: "type: The NAME service what".
    std::string Entry(std::string type, std::string what) { return type + ": The " + service_ + " service " + what; }
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
    struct Row { LauncherKeys changes; std::string exeName, install, uninstall, config, dependencies, description; };
    const Row rows[] = {
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
    static QUERY_SERVICE_CONFIGA c[256]; // room for the texts; compared as "type start error account path"
    DWORD n = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.exeName);
        std::string exe = Build(row.changes, row.exeName);
        ExpectReport(Run(exe, row.install), "Information: Service installed: " + service_);
        ASSERT_EQ(Call(SERVICE_QUERY_CONFIG, [&](SC_HANDLE s) { return QueryServiceConfigA(s, c, sizeof c, &n); }), 0u);
        EXPECT_EQ(std::to_string(c->dwServiceType) + " " + std::to_string(c->dwStartType) + " " +
                  std::to_string(c->dwErrorControl) + " " + c->lpServiceStartName + " " + c->lpBinaryPathName,
                  row.config);
        EXPECT_EQ(RegistryValue(key, "DependOnService"), row.dependencies);
        EXPECT_EQ(RegistryValue(key, "Description"), row.description);
        EXPECT_EQ(RegistryValue(source, "EventMessageFile"), "2:" + exe + std::string(1, '\0'));
        ExpectReport(Run(exe, row.install), "Error: Service is already installed: " + service_, 1);
        ExpectReport(Run(exe, row.uninstall), "Information: Service uninstalled: " + service_);
        ExpectReport(Run(exe, row.uninstall), "Error: " + SystemText(ERROR_SERVICE_DOES_NOT_EXIST), 1);
        ExpectReport(Run(Build({{"ServiceName", "Kr/Bad"}}, "bad.exe"), "-install"), "Error: " + SystemText(123), 1);
        // The launcher made the event-log source, and removal leaves it.
        EXPECT_EQ(RegistryValue(source, "TypesSupported"), std::string("4:\x07\0\0\0", 6));
    }
}

TEST_F(ServiceTest, OnlyTheExactSwitchAloneActsAndOnlyWithAServiceName)
{
    Script("out ran\n");
    struct Row { LauncherKeys changes; std::string arguments, received; } const rows[] = {
        {{}, "-INSTALL", "[-INSTALL]"}, {{}, "-Uninstall", "[-Uninstall]"}, {{}, "-install extra", "[-install][extra]"},
        {{}, "-StartLauncherInServiceMode", "[-StartLauncherInServiceMode]"},
        {{{"InstallSwitch", "/setup"}}, "-install", "[-install]"}, {{{"ServiceName", ""}}, "-install", "[-install]"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.arguments);
        LauncherRun run = Run(Build(row.changes), row.arguments);
        ExpectNoReports(run);
        EXPECT_EQ(TraceLines(trace_, "main "), std::vector<std::string>{SlashClass() + " " + row.received});
    }
}

// The stop reaches the application through System.exit (ServiceStopByExit), a second main call with the
// stop arguments (empty: AppOptions), or a thread's end while the launcher waits in DestroyJavaVM (the stop
// finds the service running, else 1062); or the watchdog ends the service after 30 s. The process ends with 0.
TEST_F(ServiceTest, StopReachesTheApplicationOrTheWatchdogEndsIt)
{
    const std::string main = "[main] main " + SlashClass() + " [serve]";
    const std::string stopCall = "[Kestrun stopper thread] stop-call " + SlashClass();
    keys_["ServiceStartArgs"] = "serve";
    keys_["AppOptions"] = "from settings";
    // Trace lines are waited for before the stop and after it.
    struct Row { std::string script; LauncherKeys changes; std::string before, after; bool byWatchdog; };
    const Row rows[] = {
        {"sleep 600000", {{"ServiceStopByExit", "1"}, {"ServiceStartArgs", "serve \"on port\""}},
         main + "[on port]", "[VM Thread] exit-hook 0", false},
        {"stop-on halt now\nwait-stop", {{"ServiceStopArgs", "halt now"}}, main, stopCall, false},
        {"stop-on from settings\nwait-stop", {{"ServiceStopArgs", ""}}, main, stopCall, false},
        {"stop-on finish\nthread worker\n  wait-stop\nend", {{"ServiceStopArgs", "finish"}}, "[-] jvm DestroyJavaVM",
         stopCall, false},
        {"stop-ignore halt\nsleep 600000", {{"ServiceStopArgs", "halt"}}, main, stopCall + " ignored", true},
        // A stop sent at once, while the launcher still scans its class path, reaches the JVM once it is there.
        {"sleep 600000", {{"ServiceStopByExit", "1"}, {"ClassPath", "classes;many"}}, "", "[VM Thread] exit-hook 0",
         false},
    };
    for (int i = 0; i < 2000; i++)
        ASSERT_TRUE(WriteFile(folder_ + "\\many\\" + std::to_string(i) + ".jar", ""));
    for (const Row& row : rows) {
        SCOPED_TRACE(row.script);
        Script(row.script + "\n");
        HANDLE process = InstallAndStart(row.changes);
        ASSERT_TRUE(row.before.empty() || WaitForTrace(row.before)) << ReadFile(trace_);
        DWORD stopAt = GetTickCount(), exitCode = (DWORD)-1;
        SERVICE_STATUS answer = {};
        auto stop = [&](SC_HANDLE service) { return ControlService(service, SERVICE_CONTROL_STOP, &answer); };
        EXPECT_EQ(Call(SERVICE_STOP, stop), 0u);
        EXPECT_EQ(WaitForSingleObject(process, 60000), WAIT_OBJECT_0);
        EXPECT_TRUE(GetExitCodeProcess(process, &exitCode) && exitCode == 0) << exitCode << ": " << ReadFile(trace_);
        CloseHandle(process);
        EXPECT_EQ(GetTickCount() - stopAt >= 29000, row.byWatchdog) << "the watchdog's 30 s";
        ExpectStoppedWith(0, 0);
        EXPECT_TRUE(WaitForTrace(row.after)) << ReadFile(trace_);
        std::vector<std::string> events = {Entry("trace", "has started.")};
        if (row.byWatchdog)
            events.push_back(Entry("err", "has timed out during a stop request and will be terminated."));
        events.push_back(Entry("trace", "has stopped."));
        ExpectEvents(events);
    }
}

// Wine's StartService gives 1053 when a service reports stopped before running: here it succeeds, also
// when the JVM cannot even be created.
TEST_F(ServiceTest, FailedStartEndsWithTheServiceSpecificCodeAndLogsTheDetails)
{
    struct Row { LauncherKeys changes; std::string report, archive = "", early = ""; } const rows[] = {
        {{{"JvmOptions", "-bogus"}}, "err: Unable to create JVM instance using " + DoubleJvmPath() +
                                         "\n\nDetails:\nUnrecognized option: -bogus\n"
                                         "Error: Could not create the Java Virtual Machine.\n"},
        {{{"MainClass", "svc.Missing"}, {"StdoutMode", "2"}, {"StderrMode", "2"}},
         "err: Error locating class: svc/Missing\n\nDetails:\njava.lang.NoClassDefFoundError: svc/Missing\r\n"
         "Caused by: java.lang.ClassNotFoundException: svc.Missing\r\n\tat "},
        // Reported before the service starts, to the event log too: no window waits on a hidden desktop.
        {{{"ClassPath", ""}}, "err: Error locating class: " + SlashClass() + "\n\nDetails:\nThe JVM was given no "
         "class path: it looks in its current directory.\r\n", std::string("\2\0\0", 3),
         "err: Internal error RC000020: the embedded file archive is too short to hold its count."},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.report);
        CloseHandle(InstallAndStart(row.changes, row.archive));
        ExpectStoppedWith(ERROR_SERVICE_SPECIFIC_ERROR, 1013);
        std::vector<std::string> events = {row.early, Entry("trace", "has started."), row.report,
                                           Entry("err", "failed to start.")};
        ExpectEvents({events.begin() + row.early.empty(), events.end()});
    }
}
