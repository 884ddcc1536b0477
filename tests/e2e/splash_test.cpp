// The splash window of a running launcher, watched from outside: how long it stays, what ends it,
// where it sits. The launcher is held up by a window of its own (an error box nobody dismisses) or
// of the program, and ended by the test.
#include "e2e.h"

namespace {

const char* const SplashTitle = "Starting the splash test...";

// A launcher started and left running; ended when the test is done with it.
struct Held {
    PROCESS_INFORMATION Process = {};
    Held(const std::string& exe, const std::string& folder)
    {
        STARTUPINFOA startup = {};
        startup.cb = sizeof(startup);
        std::string commandLine = "\"" + exe + "\"";
        EXPECT_TRUE(CreateProcessA(exe.c_str(), &commandLine[0], NULL, NULL, FALSE, 0, NULL, folder.c_str(),
                                   &startup, &Process));
    }
    ~Held()
    {
        TerminateProcess(Process.hProcess, 1);
        WaitForSingleObject(Process.hProcess, 10000);
        CloseHandle(Process.hThread);
        CloseHandle(Process.hProcess);
    }
    bool Running() { return WaitForSingleObject(Process.hProcess, 0) == WAIT_TIMEOUT; }
};

struct WindowSearch {
    DWORD ProcessId;
    const char* Title; // the splash's title; null: any visible window but the splash
    HWND Found;
};

BOOL CALLBACK LookAtWindow(HWND window, LPARAM param)
{
    auto* search = (WindowSearch*)param;
    DWORD owner = 0;
    char title[128] = "";
    GetWindowThreadProcessId(window, &owner);
    GetWindowTextA(window, title, sizeof(title));
    bool isSplash = strcmp(title, SplashTitle) == 0;
    if (owner != search->ProcessId || (search->Title != NULL) != isSplash ||
        (search->Title == NULL && !IsWindowVisible(window)))
        return TRUE;
    search->Found = window;
    return FALSE;
}

HWND FindWindowOf(const Held& launcher, const char* title)
{
    WindowSearch search = {launcher.Process.dwProcessId, title, NULL};
    EnumWindows(LookAtWindow, (LPARAM)&search);
    return search.Found;
}

bool Shown(HWND window) { return window != NULL && IsWindowVisible(window); }

// Waits until the launcher's splash is on the screen; null if it never comes.
HWND WaitForSplash(const Held& launcher)
{
    HWND splash = NULL;
    WaitFor([&] { return Shown(splash = FindWindowOf(launcher, SplashTitle)); }, 30000);
    return Shown(splash) ? splash : NULL;
}

// A 24-bit picture of width x height in one colour.
std::string Picture(int width, int height)
{
    int rowSize = (width * 3 + 3) / 4 * 4;
    BITMAPFILEHEADER file = {0x4D42, (DWORD)(54 + rowSize * height), 0, 0, 54};
    BITMAPINFOHEADER info = {sizeof(info), width, height, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    return std::string((const char*)&file, 14) + std::string((const char*)&info, 40) +
           std::string((size_t)(rowSize * height), '\x60');
}

class SplashE2eTest : public E2eTest {
protected:
    // Missing jvm.dll: after the splash comes up the launcher shows its error box and waits there.
    std::string Launcher(const std::string& untilWindow, const std::string& seconds, const std::string& jvm = "no.dll",
                         const std::string& extra = "")
    {
        return Build({{"SplashText", SplashTitle}, {"SplashUntilWindow", untilWindow}, {"SplashSeconds", seconds},
                      {"JvmPath", jvm}}, "app.exe", extra);
    }
};

TEST_F(SplashE2eTest, TimedSplashClosesAfterItsSecondsWhileTheErrorBoxStaysOpen)
{
    Held launcher(Launcher("0", "2"), folder_);
    HWND splash = WaitForSplash(launcher);
    DWORD shown = GetTickCount();
    ASSERT_NE(splash, (HWND)NULL) << "no splash";
    ASSERT_TRUE(WaitFor([&] { return FindWindowOf(launcher, NULL) != NULL; }, 30000)) << "no error box";
    ASSERT_TRUE(WaitFor([&] { return !Shown(splash); }, 15000)) << "the splash stays";
    EXPECT_GE(GetTickCount() - shown, 1500u);
    EXPECT_TRUE(launcher.Running()) << "the launcher waits for its box";
    EXPECT_NE(FindWindowOf(launcher, NULL), (HWND)NULL) << "the box is still open";
}

TEST_F(SplashE2eTest, WatchingSplashStaysUntilTheProgramOrTheLauncherShowsAWindow)
{
    Script("sleep 2000\nwindow 60000 The program's window");
    for (const std::string& jvm : {DoubleJvmPath(), std::string("no.dll")}) {
        Held launcher(Launcher("1", "0", jvm), folder_);
        HWND splash = WaitForSplash(launcher);
        ASSERT_NE(splash, (HWND)NULL) << jvm;
        ASSERT_TRUE(WaitFor([&] { return !Shown(splash) || FindWindowOf(launcher, NULL) != NULL; }, 30000)) << jvm;
        EXPECT_NE(FindWindowOf(launcher, NULL), (HWND)NULL) << "the splash went before any window: " << jvm;
        EXPECT_TRUE(WaitFor([&] { return !Shown(splash); }, 15000)) << "the splash stays: " << jvm;
    }
}

TEST_F(SplashE2eTest, SplashIsCentredWithThePicturesSize)
{
    ASSERT_TRUE(WriteFile(folder_ + "\\picture.bmp", Picture(200, 60)));
    const std::pair<std::string, RECT> cases[] = {
        {"", {312, 334, 712, 434}},                                   // the shipped 400 x 100 picture
        {"[splash]\nBitmap = picture.bmp\n", {412, 354, 612, 414}}, // 200 x 60 on the 1024 x 768 screen
    };
    for (const auto& [extra, expected] : cases) {
        Held launcher(Launcher("0", "60", "no.dll", extra), folder_);
        HWND splash = WaitForSplash(launcher);
        ASSERT_NE(splash, (HWND)NULL) << extra;
        RECT rect = {};
        GetWindowRect(splash, &rect);
        EXPECT_EQ(std::vector<LONG>({rect.left, rect.top, rect.right, rect.bottom}),
                  std::vector<LONG>({expected.left, expected.top, expected.right, expected.bottom}))
            << extra;
    }
}

} // namespace
