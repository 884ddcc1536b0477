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
    // The one report of a switch, captioned with the launcher's name, and its exit code: 0, or 1 when
    // installing or removing failed.
    void ExpectReport(const LauncherRun& run, const std::string& shown, DWORD code = 0)
    {
        EXPECT_EQ(run.ExitCode, code);
        ASSERT_EQ(run.Reports.size(), 1u) << DescribeReports(run.Reports);
        EXPECT_EQ(run.Reports[0].Caption, run.Name);
        EXPECT_EQ(run.Reports[0].Text, shown);
    }
    // Installs a launcher made with changes and extra sections, after removing any service of the test,
    // and starts the service; its process (null on failure).
    HANDLE InstallAndStart(const LauncherKeys& changes, const std::string& archive = "", const std::string& extra = "")
    {
        Remove();
        std::string exe = Build(changes, "app.exe", extra), error;
        ExpectReport(Run(exe, "-install"), "Service installed: " + Label(changes));
        EXPECT_TRUE(archive.empty() || WriteRawData(exe, 16000, archive, &error)) << error;
        mark_ = EventLogMark();
        EXPECT_EQ(Start(), 0u);
        return OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, Status().dwProcessId);
    }
    bool WaitForTrace(const std::string& line)
    {
        return WaitFor([&] { return ReadFile(trace_).find(line + "\n") != std::string::npos; });
    }
    // An entry of the service's own: "type: The NAME service what".
    // The name reports give the service: its display name, else its name.
    std::string Label(const LauncherKeys& changes)
    {
        return changes.count("ServiceDisplayName") ? changes.at("ServiceDisplayName") : service_;
    }
    std::string Entry(std::string type, std::string what, const LauncherKeys& changes = {})
    {
        return type + ": The " + Label(changes) + " service " + what;
    }
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
    // Runs exe, its standard error in a file: "exit code: what it wrote there". A window would hold it
    // until the run is killed.
    std::string RunQuiet(const std::string& exe, const std::string& arguments)
    {
        LauncherRun run = Run("C:\\windows\\system32\\cmd.exe", "/c \"\"" + exe + "\" " + arguments + " 2>err.txt\"");
        return std::to_string(run.ExitCode) + ": " + ReadFile(folder_ + "\\err.txt");
    }
    DWORD Start() { return Call(SERVICE_START, [](SC_HANDLE service) { return StartServiceA(service, 0, NULL); }); }
    DWORD Stop()
    {
        SERVICE_STATUS answer;
        return Call(SERVICE_STOP, [&](SC_HANDLE service) { return ControlService(service, SERVICE_CONTROL_STOP, &answer); });
    }
    std::string service_;
    size_t mark_ = 0;
};

// The second row runs quietly: no window, each report on standard error and in the event log. The first
// row's service, with a description, outlives a restart of the service manager; the second's is only
// marked for deletion while it runs.
TEST_F(ServiceTest, SwitchesInstallAndRemoveTheServiceAsConfigured)
{
    // Wine's CreateServiceA stores only the first name of a dependency list (its CreateServiceW keeps all).
    struct Row { LauncherKeys changes; std::string exeName, install, uninstall, config, dependencies, description; bool quiet; };
    const Row rows[] = {
        {{{"ServiceDescription", "Runs the %SystemRoot% demo"}, {"ServiceDemandStart", "0"},
          {"ServiceInteractive", "1"}, {"ServiceDependencies", "KrDepA;KrDepB"}, {"InstallSwitch", "/setup"},
          {"UninstallSwitch", "/remove"}, {"ServiceSwitch", "-svc"}, {"ServiceDisplayName", "Kr Demo"},
          {"ServiceRestartCount", "2"}, {"ServiceRestartSeconds", "5"}, {"ServiceRestartResetSeconds", "3600"}},
         "my service.exe", "/setup", "/remove", "272 2 1 LocalSystem Kr Demo \"" + folder_ + "\\my service.exe\" -svc",
         std::string("7:KrDepA\0\0", 10), std::string("1:Runs the %SystemRoot% demo\0", 29), false},
        {{{"ServiceAccount", "NetworkService"}}, "app.exe", "-install", "-uninstall", "16 3 1 NT AUTHORITY\\NetworkService " +
         service_ + " \"" + folder_ + "\\app.exe\" -startlauncherinservicemode", "", "", true},
    };
    const std::string key = "SYSTEM\\CurrentControlSet\\Services\\" + service_;
    const std::string source = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\" + service_;
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, source.c_str());
    static QUERY_SERVICE_CONFIGA c[256]; // room for the texts; compared as "type start error account display path"
    DWORD n = 0;
    Script("sleep 600000\n");
    keys_["ServiceStopByExit"] = "1";
    for (const Row& row : rows) {
        SCOPED_TRACE(row.exeName);
        std::string exe = Build(row.changes, row.exeName, "[messages]\nMsgServiceUninstalled = Removed.\n");
        std::vector<std::string> logged;
        mark_ = EventLogMark();
        auto expect = [&](const std::string& arguments, const std::string& text, DWORD code) {
            if (!row.quiet)
                return ExpectReport(Run(exe, arguments), text, code);
            std::string lines; // standard error takes the report as lines ended by CR LF
            for (char ch : text.substr(0, text.find_last_not_of("\r\n") + 1))
                lines += ch == '\r' ? "" : ch == '\n' ? "\r\n" : std::string(1, ch);
            EXPECT_EQ(RunQuiet(exe, arguments + " -quiet"), std::to_string(code) + ": " + lines + "\r\n");
            logged.push_back((code ? "err: " : "trace: ") + text);
        };
        // Reports name the service as the manager shows it.
        const std::string label = Label(row.changes);
        expect(row.install, "Service installed: " + label, 0);
        ASSERT_EQ(Call(SERVICE_QUERY_CONFIG, [&](SC_HANDLE s) { return QueryServiceConfigA(s, c, sizeof c, &n); }), 0u);
        EXPECT_EQ(std::to_string(c->dwServiceType) + " " + std::to_string(c->dwStartType) + " " +
                  std::to_string(c->dwErrorControl) + " " + c->lpServiceStartName + " " + c->lpDisplayName + " " +
                  c->lpBinaryPathName, row.config);
        EXPECT_EQ(RegistryValue(key, "DependOnService"), row.dependencies);
        EXPECT_EQ(RegistryValue(key, "Description"), row.description);
        EXPECT_EQ(RegistryValue(source, "EventMessageFile"), "2:" + exe + std::string(1, '\0'));
        expect(row.install, "Service is already installed: " + label, 1);
        // Refused by the manager, nothing kept: another's display name; under Wine, whose manager knows
        // neither, delayed start and the failure-actions flag (Windows takes both).
        std::string other = Build({{"ServiceName", "KrOther"}, {"ServiceDisplayName", c->lpDisplayName}}, "other.exe");
        ExpectReport(Run(other, "-install"), "The " + std::string(c->lpDisplayName) + " service could not be installed."
                     "\n\nReason: " + SystemText(ERROR_DUPLICATE_SERVICE_NAME), 1);
        for (const char* setting : {"ServiceDelayedStart", "ServiceExitIsFailure"}) {
            other = Build({{"ServiceName", "KrOther"}, {setting, "1"}, {"ServiceDemandStart", "0"}}, "other.exe");
            ExpectReport(Run(other, "-install"), "The KrOther service could not be installed.\n\nReason: " +
                         SystemText(ERROR_INVALID_LEVEL), 1);
        }
        // Wine's manager is ended and started again, with this program's standard error (the session's).
        if (!row.quiet) {
            ASSERT_EQ(RunAndWatch("C:\\windows\\system32\\taskkill.exe", "/f /im services.exe", "", 30000).ExitCode, 0u);
            STARTUPINFOA startup = {};
            startup.cb = sizeof(startup);
            PROCESS_INFORMATION manager = {};
            char command[] = "C:\\windows\\system32\\services.exe";
            ASSERT_TRUE(CreateProcessA(NULL, command, NULL, NULL, FALSE, DETACHED_PROCESS, NULL, NULL, &startup, &manager));
        }
        DWORD started = 0;
        EXPECT_TRUE(WaitFor([&] { return (started = Start()) != RPC_S_SERVER_UNAVAILABLE; }));
        // The manager itself starts an automatic service when it starts.
        EXPECT_TRUE(started == 0 || (started == ERROR_SERVICE_ALREADY_RUNNING && !row.quiet)) << started;
        EXPECT_TRUE(WaitFor([&] { return Status().dwCurrentState == SERVICE_RUNNING; }));
        if (row.quiet) {
            logged.push_back(Entry("trace", "has started."));
            expect(row.uninstall, "Removed.\n\n" + SystemText(ERROR_SERVICE_MARKED_FOR_DELETE), 0);
            logged.push_back(Entry("trace", "has stopped."));
        }
        EXPECT_EQ(Stop(), 0u);
        if (!row.quiet) { // one marked for deletion is gone once stopped, its status with it
            ExpectStoppedWith(0, 0);
            expect(row.uninstall, "Removed.", 0);
        }
        EXPECT_TRUE(WaitFor([&] { return Call(SERVICE_QUERY_STATUS, [](SC_HANDLE) { return TRUE; }) != 0; }));
        expect(row.uninstall, "The " + label + " service could not be removed.\n\nReason: " +
               SystemText(ERROR_SERVICE_DOES_NOT_EXIST), 1);
        // The launcher made the event-log source, and removal leaves it.
        EXPECT_EQ(RegistryValue(source, "TypesSupported"), std::string("4:\x07\0\0\0", 6));
        if (row.quiet)
            ExpectEvents(logged);
    }
    // Wine takes a manager started by a program for none of its own: the next program tree would start a
    // second one. Ended here, Wine's own starts again with the next test program.
    EXPECT_EQ(RunAndWatch("C:\\windows\\system32\\taskkill.exe", "/f /im services.exe", "", 30000).ExitCode, 0u);
}

// A named account's password reaches the service manager (Wine's relay trace of CreateServiceA shows
// its arguments) from the command line or, on none, from the first line of standard input. Input that
// ends before any byte, or a line too long, installs nothing.
TEST_F(ServiceTest, PasswordComesFromStandardInputOrTheCommandLine)
{
    const std::string installed = "0: Service installed: " + service_ + "\r\n", reason = "1: The password could not "
                                  "be read from standard input.\r\n\r\nReason: ";
    struct Row { std::string arguments, input, shown, password; } const rows[] = {
        {"-password-stdin", "in put\r\nnext line\r\n", installed, "in put"},
        {"-password-stdin", "no line end", installed, "no line end"},
        {"on-line", "", installed, "on-line"},
        {"-password-stdin", "", reason + SystemText(ERROR_HANDLE_EOF), ""},
        {"-password-stdin", std::string(1025, 'x'), reason + SystemText(ERROR_INSUFFICIENT_BUFFER), ""},
    };
    const char relay[] = "advapi32.CreateServiceA";
    ASSERT_EQ(RegSetKeyValueA(HKEY_CURRENT_USER, "Software\\Wine\\Debug", "RelayInclude", REG_SZ, relay, sizeof relay), 0);
    char debug[256] = "";
    GetEnvironmentVariableA("WINEDEBUG", debug, sizeof debug);
    SetEnvironmentVariableA("WINEDEBUG", "-all,+relay");
    std::string exe = Build({{"ServiceAccount", ".\\kruser"}});
    for (const Row& row : rows) {
        SCOPED_TRACE(row.arguments + " " + row.input);
        Remove();
        ASSERT_TRUE(WriteFile(folder_ + "\\in.txt", row.input));
        size_t mark = EventLogMark();
        LauncherRun run = Run("C:\\windows\\system32\\cmd.exe",
                              "/c \"\"" + exe + "\" -install -quiet " + row.arguments + " <in.txt 2>err.txt\"");
        EXPECT_EQ(std::to_string(run.ExitCode) + ": " + ReadFile(folder_ + "\\err.txt"), row.shown);
        // The call's last argument, the password: Call advapi32.CreateServiceA(..., ADDRESS "PASSWORD") ret=...
        std::string trace = ReadFile(WindowsPath(getenv("KESTRUN_SESSION")) + "\\session.err").substr(mark);
        size_t call = trace.find("Call advapi32.CreateServiceA("), end = trace.find("\") ret=", call);
        size_t start = end == std::string::npos ? end : trace.rfind(" \"", end) + 2;
        EXPECT_EQ(call == std::string::npos || end == std::string::npos ? "" : trace.substr(start, end - start),
                  row.password);
    }
    SetEnvironmentVariableA("WINEDEBUG", debug);
    RegDeleteKeyValueA(HKEY_CURRENT_USER, "Software\\Wine\\Debug", "RelayInclude");
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
        ExpectNoReports(Run(Build(row.changes), row.arguments));
        EXPECT_EQ(TraceLines(trace_, "main "), std::vector<std::string>{SlashClass() + " " + row.received});
    }
    // The switch alone typed by hand: standard error and the event log say that only the manager gives it.
    const std::string said = "Only the service control manager starts this program with -startlauncherinservicemode: "
                             "start the " + service_ + " service with \"net start " + service_ + "\".";
    mark_ = EventLogMark();
    EXPECT_EQ(RunQuiet(Build(), "-startlauncherinservicemode"), "1: " + said + "\r\n\r\nReason: " + SystemText(1063));
    ExpectEvents({"err: " + said + "\n\nReason: " + SystemText(1063)});
}

// The stop reaches the application through System.exit (ServiceStopByExit, or no stop arguments), a second
// main call with the stop arguments, or a thread's end while the launcher waits in DestroyJavaVM (the stop
// finds the service running, else 1062); or the watchdog ends the service after 30 s. The process ends with 0,
// and the cleanup child removes the extracted files however the program ended.
TEST_F(ServiceTest, StopReachesTheApplicationOrTheWatchdogEndsIt)
{
    const std::string main = "[main] main " + SlashClass() + " [serve]";
    const std::string stopCall = "[Kestrun stopper thread] stop-call " + SlashClass();
    keys_["ServiceStartArgs"] = "serve";
    keys_["AppOptions"] = "from settings";
    // A minimum Java version that is no JNI version: the stopper still attaches by its own name.
    keys_["JavaVersion"] = "0x00110000";
    keys_["RemoveExtractedFiles"] = "1";
    keys_["LaunchLog"] = "launch.log";  // beside the launcher: a service runs in the system folder
    ASSERT_TRUE(WriteFile(folder_ + "\\data.txt", "extracted"));
    // Trace lines are waited for before the stop and after it.
    struct Row { std::string script; LauncherKeys changes; std::string before, after; bool byWatchdog; };
    const Row rows[] = {
        {"sleep 600000", {{"ServiceStopByExit", "1"}, {"ServiceStartArgs", "serve \"on port\""}},
         main + "[on port]", "[VM Thread] exit-hook 0", false},
        {"stop-on halt now\nwait-stop", {{"ServiceStopArgs", "halt now"}}, main, stopCall, false},
        {"sleep 600000", {{"ServiceStartArgs", ""}}, "[main] main " + SlashClass() + " [from][settings]",
         "[VM Thread] exit-hook 0", false},
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
        DeleteFileA((folder_ + "\\launch.log").c_str());
        HANDLE process = InstallAndStart(row.changes, "", "[files]\nFile = data.txt\n");
        ASSERT_TRUE(row.before.empty() || WaitForTrace(row.before)) << ReadFile(trace_);
        DWORD stopAt = GetTickCount(), exitCode = (DWORD)-1;
        EXPECT_EQ(Stop(), 0u);
        EXPECT_EQ(WaitForSingleObject(process, 60000), WAIT_OBJECT_0);
        EXPECT_TRUE(GetExitCodeProcess(process, &exitCode) && exitCode == 0) << exitCode << ": " << ReadFile(trace_);
        CloseHandle(process);
        EXPECT_EQ(GetTickCount() - stopAt >= 29000, row.byWatchdog) << "the watchdog's 30 s";
        EXPECT_EQ(Logged("service stop").size(), row.byWatchdog ? 3u : 2u);  // requested, (timed out,) stopped
        EXPECT_EQ(Logged().back(), "the launcher ends with exit code 0");
        ExpectStoppedWith(0, 0);
        EXPECT_TRUE(WaitForTrace(row.after)) << ReadFile(trace_);
        std::string classPath = TraceLines(trace_, "property java.class.path=").at(0);
        EXPECT_TRUE(WaitFor([&] { return !PathExists(classPath.substr(classPath.rfind(';') + 1)); })) << classPath;
        std::vector<std::string> events = {Entry("trace", "has started.")};
        if (row.byWatchdog)
            events.push_back(Entry("err", "has timed out during a stop request and will be terminated."));
        events.push_back(Entry("trace", "has stopped."));
        ExpectEvents(events);
    }
}

// Wine's StartService gives 1053 when a service reports stopped before running: here it succeeds, also
// when the JVM cannot even be created. A main that throws (then stopped through System.exit while a thread
// of it runs on), or a JVM ended with a non-zero status, stops the service with a service-specific code too
// (the status itself for the latter). Details longer than an event-log entry takes keep their end.
TEST_F(ServiceTest, FailedStartEndsWithTheServiceSpecificCodeAndLogsTheDetails)
{
    struct Row { LauncherKeys changes; std::string report, archive = "", early = "", script = "", end = "failed to start.";
                 DWORD code = 1013; bool stop = false; } const rows[] = {
        {{{"JvmOptions", "-bogus"}}, "err: Unable to create JVM instance using " + DoubleJvmPath() +
                                         "\n\nDetails:\nUnrecognized option: -bogus\n"},
        {{{"JvmOptions", "-bogus" + std::string(40000, 'x')}}, "err: Unable to create JVM instance using " +
                                                                 DoubleJvmPath() + "\n\nDetails (their last "},
        {{{"MainClass", "svc.Missing"}, {"StdoutMode", "2"}, {"StderrMode", "2"}},
         "err: Error locating class: svc/Missing\n\nDetails:\njava.lang.NoClassDefFoundError: svc/Missing\r\n"
         "Caused by: java.lang.ClassNotFoundException: svc.Missing\r\n\tat "},
        // Reported before the service starts, to the event log too: no window waits on a hidden desktop.
        {{{"ClassPath", ""}}, "err: Error locating class: " + SlashClass() + "\n\nDetails:\nThe JVM was given no "
         "class path: it looks in its current directory.\r\n", std::string("\2\0\0", 3),
         "err: Internal error RC000020: the embedded file archive is too short to hold its count."},
        {{{"StderrMode", "2"}, {"ServiceStopByExit", "1"}, {"ServiceDisplayName", "Kr Failing"}}, "err: Error invoking method: main(java/lang/String[])\n\n"
         "Details:\njava.lang.IllegalStateException: bad config\r\n\tat " + MainClass() + ".main(" + name_ + ".java)\r\n",
         "", "", "thread worker\n  sleep 600000\nend\nthrow java.lang.IllegalStateException bad config", "", 1013, true},
        {{}, "", "", "", "exit 7", "ended with exit status 7.", 7},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.report);
        Script(row.script + "\n");
        CloseHandle(InstallAndStart(row.changes, row.archive));
        EXPECT_TRUE(!row.stop || (WaitForTrace("[-] jvm DestroyJavaVM") && Stop() == 0));
        ExpectStoppedWith(ERROR_SERVICE_SPECIFIC_ERROR, row.code);
        // A main that threw is one entry, its report: no "failed to start" after it.
        std::vector<std::string> events = {row.early, Entry("trace", "has started.", row.changes), row.report,
                                           row.end.empty() ? "" : Entry("err", row.end, row.changes)};
        events.erase(std::remove(events.begin(), events.end(), ""), events.end());
        ExpectEvents(events);
    }
}
