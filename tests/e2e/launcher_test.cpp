// The launcher's run as a user starts it: one instance per main class unless allowed, inputs of extreme
// size, and the splash window: how long it stays, what ends it, where it sits.
#include "e2e.h"

namespace {

class LauncherE2eTest : public E2eTest {};

TEST_F(LauncherE2eTest, ASecondInstanceOfTheMainClassIsRefusedUnlessAllowed)
{
    const std::string title = "held " + name_;
    Script("out first\nwindow 120000 " + title);
    ASSERT_TRUE(WriteScript(folder_ + "\\classes2", MainClass(), "out second"));
    const std::string messages = "[messages]\nMsgAlreadyRunning = Demo is already open.\n";
    std::string first = Build({{"AllowMultipleInstances", "0"}}, "first.exe", messages);
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
    ReleaseDC(NULL, screen);
}

} // namespace
