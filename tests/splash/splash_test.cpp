// The splash in this process, with the shipped picture linked in as bitmap 8000: the test thread
// plays the Java program, whose first window ends the splash in watch mode.
#include "splash.h"

#include "settings.h"
#include "splash_support.h"

#include <gtest/gtest.h>

#include <limits.h>

namespace {

char SplashTitle[] = "Loading the test program...";

void Configure(bool untilWindow, int seconds)
{
    LauncherSettings.SplashText = SplashTitle;
    LauncherSettings.SplashUntilWindow = untilWindow;
    LauncherSettings.SplashSeconds = seconds;
}

// Starts the splash and waits until it is on the screen.
HWND StartAndWaitForSplash()
{
    EXPECT_TRUE(StartSplashScreen());
    HWND splash = NULL;
    EXPECT_TRUE(WaitUntil([&] { return Showing(splash = FindSplash(GetCurrentProcessId(), SplashTitle)); }, 5000))
        << "the splash does not appear";
    return splash;
}

TEST(SplashDuration, IntervalIsMillisecondsWithinTheSystemsTimerRange)
{
    const struct {
        int Seconds;
        UINT Interval;
    } cases[] = {
        {0, 0},
        {1, 1000},
        {3, 3000},
        {-1, 0},                                    // a negative duration shows no splash
        {INT_MIN, 0},
        {2147483, 2147483000u},                     // the longest that fits USER_TIMER_MAXIMUM
        {2147484, USER_TIMER_MAXIMUM},              // longer ones get the longest timer...
        {4294968, USER_TIMER_MAXIMUM},              // ...where seconds * 1000 would wrap to 704 ms
        {INT_MAX, USER_TIMER_MAXIMUM},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SplashDurationInterval(c.Seconds), c.Interval) << "SplashSeconds " << c.Seconds;
}

TEST(SplashDuration, SplashIsWantedInWatchModeOrForAPositiveDuration)
{
    const struct {
        bool UntilWindow;
        int Seconds;
        bool Wanted;
    } cases[] = {{true, 0, true}, {true, 5, true}, {true, -5, true}, {false, 3, true},
                 {false, 0, false}, {false, -5, false}, {false, INT_MAX, true}};
    for (const auto& c : cases) {
        Configure(c.UntilWindow, c.Seconds);
        EXPECT_EQ(SplashScreenWanted(), c.Wanted) << "SplashUntilWindow " << c.UntilWindow << ", SplashSeconds "
                                                  << c.Seconds;
    }
}

TEST(SplashWindow, PictureIsCentredNotTopmostAndTitledWithSplashText)
{
    Configure(false, 30);
    HWND splash = StartAndWaitForSplash();
    ASSERT_NE(splash, (HWND)NULL);
    ASSERT_EQ(GetSystemMetrics(SM_CXSCREEN), 1024) << "the tests' display is 1024 x 768";
    ASSERT_EQ(GetSystemMetrics(SM_CYSCREEN), 768);
    RECT rect;
    ASSERT_TRUE(GetWindowRect(splash, &rect));
    EXPECT_EQ(rect.left, 312);
    EXPECT_EQ(rect.top, 334);
    EXPECT_EQ(rect.right - rect.left, 400) << "the window takes the shipped bitmap's size";
    EXPECT_EQ(rect.bottom - rect.top, 100);
    EXPECT_EQ(GetWindowLongPtrA(splash, GWL_EXSTYLE) & WS_EX_TOPMOST, 0);
    EXPECT_EQ(GetWindowLongPtrA(splash, GWL_STYLE) & (WS_POPUP | WS_CAPTION | SS_TYPEMASK), WS_POPUP | SS_BITMAP);
    char title[64] = "";
    GetWindowTextA(splash, title, sizeof(title));
    EXPECT_STREQ(title, SplashTitle);
    EXPECT_EQ(SplashWindow, splash);
    EXPECT_NE(GetWindowThreadProcessId(splash, NULL), GetCurrentThreadId()) << "a thread of its own";
}

TEST(SplashWindow, WholePictureTakesTheMouse)
{
    // A window of the program under the splash; the splash comes up on top of it.
    HWND behind = ShowProgramWindow(200, 200, 624, 368);
    ASSERT_NE(behind, (HWND)NULL);
    // The program's window would end a watching splash: use a fixed time.
    Configure(false, 30);
    HWND splash = StartAndWaitForSplash();
    ASSERT_NE(splash, (HWND)NULL);
    const POINT points[] = {{312, 334}, {711, 334}, {312, 433}, {711, 433}, {512, 384}};
    for (POINT point : points) {
        EXPECT_EQ(SendMessageA(splash, WM_NCHITTEST, 0, MAKELPARAM(point.x, point.y)), HTCLIENT)
            << point.x << "," << point.y;
        EXPECT_EQ(WindowFromPoint(point), splash) << point.x << "," << point.y;
    }
    // Outside the picture the program's window is found: the points above really were over it.
    EXPECT_EQ(WindowFromPoint(POINT{250, 250}), behind);
    // An ordinary picture control is transparent to the mouse; the splash must not be.
    HWND plain = CreateWindowExA(0, "STATIC", "", WS_POPUP | SS_BITMAP, 0, 0, 10, 10, NULL, NULL, NULL, NULL);
    EXPECT_EQ(SendMessageA(plain, WM_NCHITTEST, 0, MAKELPARAM(5, 5)), HTTRANSPARENT);
    DestroyWindow(plain);
    DestroyWindow(behind);
}

TEST(SplashWatch, StaysUntilTheProgramShowsAWindowThenClosesWithinATick)
{
    // SplashSeconds plays no part in watch mode.
    Configure(true, 1);
    HWND splash = StartAndWaitForSplash();
    ASSERT_NE(splash, (HWND)NULL);
    // Well past the one second and many 100 ms ticks: the splash is still up.
    DWORD start = GetTickCount();
    bool stayed = !WaitUntil([&] { return !Showing(splash); }, 1800);
    EXPECT_TRUE(stayed) << "the splash went after " << Since(start) << " ms without a program window";

    // An invisible window does not count.
    HWND hidden = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 10, 10, NULL, NULL, NULL, NULL);
    EXPECT_FALSE(WaitUntil([&] { return !Showing(splash); }, 300)) << "a hidden window ended the splash";

    // Timed from before the call: the window is visible before CreateWindowExA returns.
    DWORD shown = GetTickCount();
    HWND program = ShowProgramWindow(0, 0, 200, 150);
    ASSERT_NE(program, (HWND)NULL);
    ASSERT_TRUE(WaitUntil([&] { return !Showing(splash); }, 2000)) << "the splash stays after the program's window";
    DWORD latency = Since(shown);
    EXPECT_LE(latency, 250u) << "one 100 ms tick, with room for a loaded machine";
    // The thread ends and takes the window with it.
    EXPECT_TRUE(WaitUntil([&] { return !IsWindow(splash); }, 2000));
    EXPECT_TRUE(IsWindowVisible(program)) << "the program's window is left alone";
    printf("splash closed %lu ms after the program's window appeared\n", (unsigned long)latency);
    DestroyWindow(program);
    DestroyWindow(hidden);
}

TEST(SplashDurationMode, ClosesAfterTheSecondsWhateverElseIsShown)
{
    Configure(false, 2);
    HWND splash = StartAndWaitForSplash();
    ASSERT_NE(splash, (HWND)NULL);
    DWORD start = GetTickCount();
    // The program's window appears at once: in duration mode it changes nothing.
    HWND program = ShowProgramWindow(0, 0, 200, 150);
    ASSERT_TRUE(WaitUntil([&] { return !Showing(splash); }, 5000));
    DWORD shownFor = Since(start);
    EXPECT_GE(shownFor, 1900u);
    EXPECT_LE(shownFor, 2600u);
    EXPECT_TRUE(WaitUntil([&] { return !IsWindow(splash); }, 2000)) << "the thread ends";
    printf("splash shown for %lu ms of 2000\n", (unsigned long)shownFor);
    DestroyWindow(program);
}

TEST(SplashDurationMode, CloseRequestEndsTheSplashEarly)
{
    Configure(false, 30);
    HWND splash = StartAndWaitForSplash();
    ASSERT_NE(splash, (HWND)NULL);
    PostMessageA(splash, WM_CLOSE, 0, 0);
    EXPECT_TRUE(WaitUntil([&] { return !IsWindow(splash); }, 2000));
}

TEST(SplashCount, CountsOnlyVisibleTopLevelWindowsOfTheProcess)
{
    int before = CountVisibleProcessWindows(GetCurrentProcessId());
    HWND shown = ShowProgramWindow(0, 0, 50, 50);
    HWND hidden = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 10, 10, NULL, NULL, NULL, NULL);
    HWND child = CreateWindowExA(0, "STATIC", "", WS_CHILD | WS_VISIBLE, 0, 0, 10, 10, shown, NULL, NULL, NULL);
    EXPECT_EQ(CountVisibleProcessWindows(GetCurrentProcessId()), before + 1);
    ShowWindow(hidden, SW_SHOWNA);
    EXPECT_EQ(CountVisibleProcessWindows(GetCurrentProcessId()), before + 2);
    DestroyWindow(child);
    DestroyWindow(hidden);
    DestroyWindow(shown);
    EXPECT_EQ(CountVisibleProcessWindows(GetCurrentProcessId()), before);
    EXPECT_EQ(CountVisibleProcessWindows(0xFFFFFFF0), 0) << "no process has that id";
}

} // namespace
