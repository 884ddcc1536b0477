// The launcher's run as a user starts it: one instance per main class unless allowed, inputs of extreme
// size, and the splash window: how long it stays, what ends it, where it sits.
#include "e2e.h"

#include <aclapi.h>
#include <memory>
#include <regex>
#include <sddl.h>
#include <tlhelp32.h>

namespace {

class LauncherE2eTest : public E2eTest {};

TEST_F(LauncherE2eTest, ASecondInstanceOfTheMainClassIsRefusedUnlessAllowed)
{
    const std::string title = "held " + name_;
    Script("out first\nwindow 120000 " + title);
    ASSERT_TRUE(WriteScript(folder_ + "\\classes2", MainClass(), "out second"));
    const std::string messages = "[messages]\nMsgAlreadyRunning = Demo is already open.\n";
    std::string first = Build({{"AllowMultipleInstances", "0"}, {"SecondInstance", "refuse"}}, "first.exe", messages);
    // Two launches let go at the same moment: one is refused, the other runs until the test closes its window.
    Held one(first, folder_, CREATE_SUSPENDED), other(first, folder_, CREATE_SUSPENDED);
    ReportWatcher oneWatcher(one.Process.dwProcessId), otherWatcher(other.Process.dwProcessId);
    ResumeThread(one.Process.hThread);
    ResumeThread(other.Process.hThread);
    HWND window = NULL;
    ASSERT_TRUE(WaitFor([&] { return (window = FindWindowA(NULL, title.c_str())) != NULL; }, 30000));
    // A launch that allows more instances runs beside it.
    LauncherRun second = Run(Build({{"ClassPath", "classes2"}, {"StdoutFile", "second.log"}}, "second.exe"));
    ExpectNoReports(second);
    EXPECT_EQ(ReadFile(folder_ + "\\second.log"), "second\r\n");
    PostMessageA(window, WM_CLOSE, 0, 0);
    HANDLE both[2] = {one.Process.hProcess, other.Process.hProcess};
    EXPECT_EQ(WaitForMultipleObjects(2, both, TRUE, 30000), WAIT_OBJECT_0);
    std::vector<SeenReport> reports = oneWatcher.Reports(), more = otherWatcher.Reports();
    reports.insert(reports.end(), more.begin(), more.end());
    ASSERT_EQ(reports.size(), 1u) << DescribeReports(reports);
    EXPECT_EQ(reports[0].Text, "Demo is already open.");
    for (HANDLE process : both) {
        DWORD code = 1;
        EXPECT_TRUE(GetExitCodeProcess(process, &code) && code == 0) << code;
    }
    EXPECT_EQ(Out(), "first\r\n");
}

TEST_F(LauncherE2eTest, ASecondStartBringsTheFirstToTheFrontAndForwardsItsArgumentsInOrder)
{
    const std::string title = "first " + name_, unusual = "\xD0\x96\xC3\xA9\xF0\x9F\x98\x80";  // an emoji: two units
    Script("static openFiles\nwindow 120000 " + title);
    ASSERT_TRUE(WriteFile(folder_ + "\\sub\\doc 1.txt", ""));
    HWND other = CreateWindowExA(0, "STATIC", "other", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 99, 99, 0, 0, 0, 0);
    for (std::string row : {"activate", "forward", "missing"}) {  // missing: forward to a method the class lacks
        const std::string mode = row == "activate" ? row : "forward", method = row == "missing" ? row : "openFiles";
        std::string exe = Build({{"AllowMultipleInstances", "0"}, {"SecondInstance", mode}, {"StderrMode", "1"},
                                 {"StderrFile", "err.log"}, {"SecondInstanceMethod", MainClass() + "." + method}}, row + ".exe");
        DeleteFileA(trace_.c_str());
        Held first(exe, folder_);
        HWND window = NULL;
        ASSERT_TRUE(WaitFor([&] { return (window = FindWindowA(NULL, title.c_str())) != NULL; }, 30000)) << row;
        ShowWindow(window, SW_MINIMIZE);
        SetForegroundWindow(other);
        std::vector<std::string> expected;
        for (int i = 0; i < 10; i++) {
            std::string arguments = "\"doc 1.txt\" missing.txt " + std::to_string(i) + " " + unusual;
            ExpectNoReports(RunAndWatch(exe, arguments, folder_ + "\\sub", 30000));
            if (row == "forward")
                expected.push_back(SlashClass() + ".openFiles [" + folder_ + "\\sub\\doc 1.txt][missing.txt][" +
                                   std::to_string(i) + "][" + unusual + "]");
        }
        EXPECT_EQ(GetForegroundWindow(), window) << row;
        EXPECT_FALSE(IsIconic(window)) << row;
        std::vector<std::unique_ptr<Held>> together;  // started at one moment, they wait for the pipe in turn
        for (int i = 0; i < 4 && row == "forward"; i++)
            together.emplace_back(new Held(exe, folder_, 0, "together")), expected.push_back(SlashClass() + ".openFiles [together]");
        for (auto& start : together) {
            DWORD code = 1;
            EXPECT_EQ(WaitForSingleObject(start->Process.hProcess, 30000), WAIT_OBJECT_0);
            EXPECT_TRUE(GetExitCodeProcess(start->Process.hProcess, &code) && code == 0) << code;
        }
        WaitFor([&] { return TraceLines(trace_, "call ").size() >= expected.size(); }, 30000);
        EXPECT_EQ(TraceLines(trace_, "call "), expected) << row;
        EXPECT_TRUE(row != "missing" || WaitFor([&] { return ReadFile(folder_ + "\\err.log").find(
                                                               "java.lang.NoSuchMethodError: missing") != std::string::npos; }));
        EXPECT_TRUE(first.Running()) << row;
    }
    DestroyWindow(other);
}

// Suspends every thread of a process: a program hung as a whole.
void SuspendProcess(DWORD process)
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry = {sizeof(entry), 0, 0, 0, 0, 0, 0};
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        HANDLE thread = entry.th32OwnerProcessID == process ? OpenThread(THREAD_SUSPEND_RESUME, FALSE, entry.th32ThreadID) : 0;
        if (thread != NULL && SuspendThread(thread) != (DWORD)-1)
            CloseHandle(thread);
    }
    CloseHandle(snapshot);
}

TEST_F(LauncherE2eTest, ASecondStartBeforeMainIsDeliveredOnceMainRunsAndAHungFirstDoesNotHangIt)
{
    Script("static openFiles\nwindow 120000 early " + name_);
    const std::string hold = folder_ + "\\hold", exe = Build({{"AllowMultipleInstances", "0"},
                                                            {"SecondInstanceMethod", MainClass() + ".openFiles"}});
    ASSERT_TRUE(WriteFile(hold, ""));
    SetEnvironmentVariableA("KESTRUN_JVM_HOLD", hold.c_str());
    Held first(exe, folder_);
    SetEnvironmentVariableA("KESTRUN_JVM_HOLD", NULL);
    ASSERT_TRUE(WaitFor([&] { return !TraceLines(trace_, "hold").empty(); }, 30000));
    ExpectNoReports(RunAndWatch(exe, "early", folder_, 30000));
    DeleteFileA(hold.c_str());
    ASSERT_TRUE(WaitFor([&] { return !TraceLines(trace_, "call ").empty(); }, 30000));
    const std::string trace = ReadFile(trace_), call = "[Kestrun second-start thread] call " + SlashClass();
    EXPECT_LT(trace.find("[main] main "), trace.find(call + ".openFiles [early]"));
    // Read back through a client handle: network clients denied, this logon session (its SID) alone allowed.
    char id[17] = "", *dacl = NULL;
    DWORD session = 0;
    ProcessIdToSessionId(GetCurrentProcessId(), &session);
    LoadStringA(LoadLibraryExA(exe.c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE), 2032, id, sizeof(id));
    const std::string pipe = "\\\\.\\pipe\\kestrun-" + std::string(id) + "-second-start-" + std::to_string(session);
    HANDLE client = CreateFileA(pipe.c_str(), READ_CONTROL, 0, NULL, OPEN_EXISTING, 0, NULL);
    PSECURITY_DESCRIPTOR security = NULL;
    ASSERT_EQ(GetSecurityInfo(client, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, 0, 0, 0, 0, &security), 0u) << pipe;
    ConvertSecurityDescriptorToStringSecurityDescriptorA(security, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &dacl, 0);
    EXPECT_TRUE(std::regex_match(dacl, std::regex(R"(D:P\(D;;GA;;;NU\)\(A;;GA;;;S-1-5-5-\d+-\d+\))"))) << dacl;
    CloseHandle(client);
    SuspendProcess(first.Process.dwProcessId);
    DWORD start = GetTickCount();
    LauncherRun hung = RunAndWatch(exe, "late", folder_, 30000);
    EXPECT_LT(GetTickCount() - start, 10000u);
    ExpectOneError(hung, "The running instance of this program does not answer.");
    EXPECT_EQ(hung.ExitCode, ExitFailure);
}

TEST_F(LauncherE2eTest, TheRestartStatusStartsTheSameCommandAgainAtMostOnceASecondUpToTheLimit)
{
    Script("exit 7");
    HANDLE job = CreateJobObjectA(NULL, NULL);
    Held first(Build({{"RestartExitCode", "7"}, {"RestartLimit", "2"}}), folder_, CREATE_SUSPENDED, "a \"b c\"");
    ASSERT_TRUE(AssignProcessToJobObject(job, first.Process.hProcess));
    DWORD start = GetTickCount(), code = 1;
    ResumeThread(first.Process.hThread);
    JOBOBJECT_BASIC_ACCOUNTING_INFORMATION runs = {};
    ASSERT_TRUE(WaitFor([&] { return QueryInformationJobObject(job, JobObjectBasicAccountingInformation, &runs,
                                                               sizeof(runs), NULL) && runs.ActiveProcesses == 0; }, 30000));
    EXPECT_GE(GetTickCount() - start, 2000u);
    EXPECT_EQ(runs.TotalProcesses, 3u);
    EXPECT_TRUE(GetExitCodeProcess(first.Process.hProcess, &code) && code == 0) << code;
    EXPECT_EQ(TraceLines(trace_, "main "), std::vector<std::string>(3, SlashClass() + " [a][b c]"));
    CloseHandle(job);
}

TEST_F(LauncherE2eTest, CaptureGoesOnWhileAnotherProcessHoldsItsMutexName)
{
    // More output than the pipe holds: a reader stuck on the mutex would stop the program for good.
    Script("repeat 3000 out line {i} of what fills the capture pipe\nthrow java.lang.IllegalStateException done");
    Held launcher(Build({{"StdoutMode", "2"}}), folder_, CREATE_SUSPENDED);
    HANDLE squatter = CreateMutexA(NULL, TRUE, ("mutex" + std::to_string(launcher.Process.dwProcessId)).c_str());
    ReportWatcher watcher(launcher.Process.dwProcessId);
    ResumeThread(launcher.Process.hThread);
    EXPECT_EQ(WaitForSingleObject(launcher.Process.hProcess, 60000), WAIT_OBJECT_0) << "the program froze";
    std::vector<SeenReport> reports = watcher.Reports();
    ASSERT_EQ(reports.size(), 1u) << DescribeReports(reports);
    EXPECT_EQ(reports[0].Text, "Error invoking method: main(java/lang/String[])");
    EXPECT_NE(reports[0].Details.find("line 2999 of what fills the capture pipe\r\n"), std::string::npos);
    CloseHandle(squatter);
}

TEST_F(LauncherE2eTest, LaunchLogHoldsEveryStepUpToAHungProgramThatWasKilled)
{
    Script("out started\nsleep 600000");
    const std::string called = "main(String[]) of " + SlashClass() + " called with 0 argument(s)";
    {
        Held launcher(Build({{"LaunchLog", "launch.log"}}), folder_);
        // Each step is in the file as it happens: the main call is there while the program still runs.
        EXPECT_TRUE(WaitFor([&] { return !Logged(called).empty(); }));
        EXPECT_TRUE(launcher.Running());
    }
    std::vector<std::string> steps = Logged();
    ASSERT_FALSE(steps.empty());
    EXPECT_EQ(steps.back(), called);
    EXPECT_EQ(Logged("setting LaunchLog = launch.log (built in)").size(), 1u);
}

TEST_F(LauncherE2eTest, HugeCommandLinesAndIniLinesWithBinaryBytesArriveWhole)
{
    Script("out {argc}|{arg:0}|{arg:1030}|{prop:big}");
    std::string words;  // 1031 words of 30 letters: 31 960 characters
    for (int i = 0; i < 1031; i++)
        words += (i ? " " : "") + std::string(30, (char)('a' + i % 26));
    std::string binary;  // every byte value but a line end
    for (int i = 0; i < 100000; i++)
        binary += (char)(i % 256 == '\n' || i % 256 == '\r' ? 1 : i % 256);
    const std::string big(100000, 'x'), argument(100000, 'a');
    ASSERT_TRUE(WriteFile(folder_ + "\\app.ini", "[Application Configuration]\r\n" + binary + "\r\nJvmOptions=-Dbig=" +
                                                   big + "\r\n" + binary + "=" + binary + "\r\nAppOptions=" + argument +
                                                   "\r\n"));
    ExpectNoReports(Run(Build(), words));
    EXPECT_EQ(Out(), "1031|" + std::string(30, 'a') + "|" + std::string(30, 'q') + "|null\r\n");
    ExpectNoReports(Run(Build({{"IniFileName", "app.ini"}})));
    EXPECT_EQ(Out(), "1|" + argument + "|<none>|" + big + "\r\n");
}

BOOL CALLBACK AddWindow(HWND window, LPARAM windows) { return ((std::vector<HWND>*)windows)->push_back(window), TRUE; }

// A visible window of the launcher other than its splash (its error box, the program's window); null if none.
HWND OtherWindow(const Held& launcher, HWND splash)
{
    // Listed first: a walk of the z-order ends early at a window another process destroys meanwhile
    // (tests run side by side), and misses the box.
    std::vector<HWND> windows;
    EnumWindows(AddWindow, (LPARAM)&windows);
    for (HWND window : windows) {
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (owner == launcher.Process.dwProcessId && window != splash && IsWindowVisible(window))
            return window;
    }
    return NULL;
}

bool Shown(HWND window) { return window != NULL && IsWindowVisible(window); }

// A 24-bit picture of width x height in one colour.
std::string Picture(int width, int height)
{
    int rowSize = (width * 3 + 3) / 4 * 4;
    BITMAPFILEHEADER file = {0x4D42, (DWORD)(54 + rowSize * height), 0, 0, 54};
    BITMAPINFOHEADER info = {sizeof(info), width, height, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    return std::string((const char*)&file, 14) + std::string((const char*)&info, 40) +
           std::string((size_t)(rowSize * height), '\x60');
}

// The launcher is held up by a window of its own (the error box about a missing jvm.dll, which nobody
// dismisses) or of the program, and ended by the test.
class SplashE2eTest : public E2eTest {
protected:
    std::string Launcher(const std::string& untilWindow, const std::string& seconds, const std::string& jvm = "no.dll",
                         const std::string& extra = "")
    {
        return Build({{"SplashText", SplashTitle()}, {"SplashUntilWindow", untilWindow}, {"SplashSeconds", seconds},
                      {"JvmPath", jvm}}, "app.exe", extra);
    }
    // The test's own title: tests run side by side in one session.
    std::string SplashTitle() { return "Splash of " + name_; }
    // Waits until the launcher's splash is on the screen; null if it never comes.
    HWND WaitForSplash()
    {
        HWND splash = NULL;
        WaitFor([&] { return Shown(splash = FindWindowA(NULL, SplashTitle().c_str())); }, 30000);
        return Shown(splash) ? splash : NULL;
    }
};

TEST_F(SplashE2eTest, TimedSplashClosesAfterItsSecondsWhileTheErrorBoxStaysOpen)
{
    Held launcher(Launcher("0", "2"), folder_);
    HWND splash = WaitForSplash();
    DWORD shown = GetTickCount();
    ASSERT_NE(splash, (HWND)NULL) << "no splash";
    ASSERT_TRUE(WaitFor([&] { return OtherWindow(launcher, splash) != NULL; }, 30000)) << "no error box";
    ASSERT_TRUE(WaitFor([&] { return !Shown(splash); }, 15000)) << "the splash stays";
    EXPECT_GE(GetTickCount() - shown, 1500u);
    EXPECT_TRUE(launcher.Running()) << "the launcher waits for its box";
    EXPECT_NE(OtherWindow(launcher, splash), (HWND)NULL) << "the box is still open";
}

TEST_F(SplashE2eTest, WatchingSplashStaysUntilTheProgramOrTheLauncherShowsAWindow)
{
    Script("sleep 2000\nwindow 60000 The program's window");
    for (const std::string& jvm : {DoubleJvmPath(), std::string("no.dll")}) {
        Held launcher(Launcher("1", "0", jvm), folder_);
        HWND splash = WaitForSplash();
        ASSERT_NE(splash, (HWND)NULL) << jvm;
        ASSERT_TRUE(WaitFor([&] { return !Shown(splash) || OtherWindow(launcher, splash); }, 30000)) << jvm;
        EXPECT_NE(OtherWindow(launcher, splash), (HWND)NULL) << "the splash went before any window: " << jvm;
        EXPECT_TRUE(WaitFor([&] { return !Shown(splash); }, 15000)) << "the splash stays: " << jvm;
    }
}

TEST_F(SplashE2eTest, SplashIsCentredWithThePicturesSizeAndDrawsIt)
{
    ASSERT_TRUE(WriteFile(folder_ + "\\picture.bmp", Picture(200, 60)));
    struct { std::string extra; std::vector<LONG> rect; COLORREF corner; } cases[] = { // left, top, right, bottom
        {"", {312, 334, 712, 434}, RGB(0x0B, 0x7A, 0x75)},                      // the shipped 400 x 100 picture, RLE8
        {"[splash]\nBitmap = picture.bmp\n", {412, 354, 612, 414}, RGB(0x60, 0x60, 0x60)}, // 200 x 60, 1024 x 768
    };
    Script("sleep 60000");  // no other window covers the splash
    HDC screen = GetDC(NULL);
    for (const auto& c : cases) {
        Held launcher(Launcher("0", "60", DoubleJvmPath(), c.extra), folder_);
        HWND splash = WaitForSplash();
        ASSERT_NE(splash, (HWND)NULL) << c.extra;
        RECT rect = {};
        GetWindowRect(splash, &rect);
        EXPECT_EQ(std::vector<LONG>({rect.left, rect.top, rect.right, rect.bottom}), c.rect) << c.extra;
        EXPECT_TRUE(WaitFor([&] { return GetPixel(screen, rect.left, rect.bottom - 1) == c.corner; }, 9000)) << c.extra;
    }
    // A jar's SplashScreen-Image is the splash of the launcher built from the jar alone, titled with its product name.
    Held fromJar(BuildFromJar("splash", "Main-Class: " + MainClass() + "\nImplementation-Title: " + SplashTitle() +
                              "\nSplashScreen-Image: img/p.bmp\n", "sleep 60000", {{"img/p.bmp", Picture(200, 60)}}), folder_);
    HWND splash = WaitForSplash();
    RECT rect = {};
    ASSERT_TRUE(splash != NULL && GetWindowRect(splash, &rect));
    EXPECT_EQ(std::vector<LONG>({rect.left, rect.top, rect.right, rect.bottom}), std::vector<LONG>({412, 354, 612, 414}));
    EXPECT_TRUE(WaitFor([&] { return GetPixel(screen, rect.left, rect.bottom - 1) == RGB(0x60, 0x60, 0x60); }, 9000));
    ReleaseDC(NULL, screen);
}

} // namespace
