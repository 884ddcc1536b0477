// The splash of real launchers made by the builder from a config, watched from outside. The
// launcher's report box (the Java runtime cannot start yet) keeps it waiting, held open by the
// report watcher, and is the second window that ends a watching splash.
#include "splash_support.h"
#include "variant.h"
#include "watcher.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>

namespace {

const DWORD ExitFailure = (DWORD)-1;
const char* const SplashTitle = "Starting the splash test...";

std::string TestName()
{
    return ::testing::UnitTest::GetInstance()->current_test_info()->name();
}

class LauncherSplash : public ::testing::Test {
protected:
    void SetUp() override { folder_ = TestFolder("splash-" + TestName()); }

    // A launcher from the builder with these splash settings (and more config lines, if any).
    std::string Launcher(const std::string& name, const std::string& untilWindow, const std::string& seconds,
                         const std::string& more = "")
    {
        std::string config = "[launcher]\nMainClass = splash." + TestName() + "." + name + "\nSplashText = " +
                             SplashTitle + "\nSplashUntilWindow = " + untilWindow + "\nSplashSeconds = " +
                             seconds + "\n" + more;
        std::string error;
        std::string exe = BuildLauncher(folder_, name, config, &error);
        EXPECT_FALSE(exe.empty()) << error;
        return exe;
    }

    // Waits for the launcher's splash to be on the screen; null on timeout.
    static HWND WaitForShownSplash(const HeldLauncher& launcher)
    {
        HWND splash = NULL;
        WaitUntil([&] { return Showing(splash = FindSplash(launcher.Process.dwProcessId, SplashTitle)); }, 10000);
        return Showing(splash) ? splash : NULL;
    }

    static bool StillRunning(const HeldLauncher& launcher)
    {
        return WaitForSingleObject(launcher.Process.hProcess, 0) == WAIT_TIMEOUT;
    }

    std::string folder_;
};

void ExpectCentred(HWND splash, int width, int height)
{
    RECT rect = {};
    ASSERT_TRUE(GetWindowRect(splash, &rect));
    EXPECT_EQ(rect.left, (1024 - width) / 2);
    EXPECT_EQ(rect.top, (768 - height) / 2);
    EXPECT_EQ(rect.right - rect.left, width);
    EXPECT_EQ(rect.bottom - rect.top, height);
}

TEST_F(LauncherSplash, DurationModeClosesAfterItsSecondsWhileTheBoxStaysOpen)
{
    std::string exe = Launcher("duration", "0", "2");
    ASSERT_FALSE(exe.empty());
    HeldLauncher launcher;
    ASSERT_TRUE(launcher.Start(exe));
    HWND splash = WaitForShownSplash(launcher);
    DWORD seen = GetTickCount();
    ASSERT_NE(splash, (HWND)NULL) << "no splash";
    ASSERT_TRUE(launcher.WaitForReport(10000)) << "no report box";

    // What a user sees of it: the shipped picture centred, titled SplashText, taking the mouse.
    ExpectCentred(splash, 400, 100);
    char title[64] = "";
    GetWindowTextA(splash, title, sizeof(title));
    EXPECT_STREQ(title, SplashTitle);
    EXPECT_EQ(GetWindowLongPtrA(splash, GWL_EXSTYLE) & WS_EX_TOPMOST, 0) << "not topmost";
    EXPECT_EQ(SendMessageA(splash, WM_NCHITTEST, 0, MAKELPARAM(512, 384)), HTCLIENT);
    EXPECT_EQ(SendMessageA(splash, WM_NCHITTEST, 0, MAKELPARAM(312, 334)), HTCLIENT);

    // The box does not end a timed splash; the seconds do.
    ASSERT_TRUE(WaitUntil([&] { return !Showing(splash); }, 6000)) << "the splash stays";
    DWORD shownFor = Since(seen);
    EXPECT_GE(shownFor, 1800u);
    EXPECT_LE(shownFor, 2700u);
    EXPECT_TRUE(WaitUntil([&] { return !IsWindow(splash); }, 2000)) << "the splash thread ends";
    EXPECT_TRUE(StillRunning(launcher)) << "the launcher waits for its box, not for the splash";
    EXPECT_EQ(launcher.CloseAndWait(), ExitFailure);
    printf("launcher splash shown for %lu ms of 2000\n", (unsigned long)shownFor);
}

TEST_F(LauncherSplash, WatchModeClosesWithinATickOfTheLaunchersBox)
{
    // The 5 seconds play no part while watching.
    std::string exe = Launcher("watch", "1", "5");
    ASSERT_FALSE(exe.empty());
    HeldLauncher launcher;
    ASSERT_TRUE(launcher.Start(exe));
    HWND splash = WaitForShownSplash(launcher);
    DWORD seen = GetTickCount();
    ASSERT_NE(splash, (HWND)NULL) << "no splash";
    RECT rect = {};
    GetWindowRect(splash, &rect);
    ASSERT_TRUE(launcher.WaitForReport(10000));
    DWORD boxSeen = GetTickCount();
    ASSERT_TRUE(WaitUntil([&] { return !Showing(splash); }, 3000)) << "the box does not end the splash";
    // From the moment both were on the screen.
    DWORD latency = Since((LONG)(boxSeen - seen) > 0 ? boxSeen : seen);
    EXPECT_LE(latency, 250u);
    EXPECT_EQ(rect.left, 312);
    EXPECT_EQ(rect.top, 334);
    EXPECT_TRUE(WaitUntil([&] { return !IsWindow(splash); }, 2000)) << "the splash thread ends";
    EXPECT_TRUE(StillRunning(launcher));
    EXPECT_EQ(launcher.CloseAndWait(), ExitFailure);
    printf("launcher splash closed %lu ms after the box was up\n", (unsigned long)latency);
}

TEST_F(LauncherSplash, ZeroOrNegativeSecondsStartNoSplashThread)
{
    // The same launcher with a splash up: the thread count to compare with.
    int withSplash = -1;
    {
        std::string exe = Launcher("timed", "0", "60");
        ASSERT_FALSE(exe.empty());
        HeldLauncher launcher;
        ASSERT_TRUE(launcher.Start(exe));
        ASSERT_NE(WaitForShownSplash(launcher), (HWND)NULL);
        ASSERT_TRUE(launcher.WaitForReport(10000));
        withSplash = launcher.ThreadCount();
        EXPECT_EQ(launcher.CloseAndWait(), ExitFailure) << "the long splash does not keep the launcher";
    }
    for (const char* seconds : {"0", "-5"}) {
        std::string exe = Launcher(std::string("none") + seconds, "0", seconds);
        ASSERT_FALSE(exe.empty());
        HeldLauncher launcher;
        ASSERT_TRUE(launcher.Start(exe));
        ASSERT_TRUE(launcher.WaitForReport(10000));
        EXPECT_EQ(FindSplash(launcher.Process.dwProcessId, SplashTitle), (HWND)NULL) << "SplashSeconds " << seconds;
        EXPECT_EQ(launcher.ThreadCount(), withSplash - 1) << "SplashSeconds " << seconds;
        EXPECT_EQ(launcher.CloseAndWait(), ExitFailure);
    }
}

TEST_F(LauncherSplash, SecondsBeyondTheTimerRangeDoNotWrapToAShortSplash)
{
    // 4294968 s in milliseconds, cut to 32 bits, would be 704 ms.
    std::string exe = Launcher("huge", "0", "4294968");
    ASSERT_FALSE(exe.empty());
    HeldLauncher launcher;
    ASSERT_TRUE(launcher.Start(exe));
    HWND splash = WaitForShownSplash(launcher);
    ASSERT_NE(splash, (HWND)NULL);
    DWORD seen = GetTickCount();
    EXPECT_FALSE(WaitUntil([&] { return !Showing(splash); }, 1500)) << "gone after " << Since(seen) << " ms";
    ASSERT_TRUE(launcher.WaitForReport(10000));
    EXPECT_EQ(launcher.CloseAndWait(), ExitFailure);
}

TEST_F(LauncherSplash, UnloadableBitmapShowsNothingAndTheThreadStillEnds)
{
    std::string exe = Launcher("nobitmap", "0", "1");
    ASSERT_FALSE(exe.empty());
    std::string error;
    ASSERT_TRUE(BreakSplashBitmap(exe, &error)) << error;
    HeldLauncher launcher;
    ASSERT_TRUE(launcher.Start(exe));
    ASSERT_TRUE(launcher.WaitForReport(10000));
    HWND splash = NULL;
    ASSERT_TRUE(WaitUntil([&] { return (splash = FindSplash(launcher.Process.dwProcessId, SplashTitle)) != NULL; },
                          5000))
        << "the splash window is created even without a picture";
    bool everShown = false;
    EXPECT_TRUE(WaitUntil(
        [&] {
            everShown = everShown || Showing(splash);
            return !IsWindow(splash);
        },
        4000))
        << "the splash thread does not end";
    EXPECT_FALSE(everShown);
    EXPECT_TRUE(StillRunning(launcher));
    EXPECT_EQ(launcher.CloseAndWait(), ExitFailure);
}

TEST_F(LauncherSplash, ConfiguredBitmapGivesTheWindowItsSize)
{
    ASSERT_TRUE(WriteSolidBitmap(folder_ + "\\picture.bmp", 200, 60, 0xC0, 0x20, 0x40));
    std::string exe = Launcher("picture", "0", "30", "[splash]\nBitmap = picture.bmp\n");
    ASSERT_FALSE(exe.empty());
    HeldLauncher launcher;
    ASSERT_TRUE(launcher.Start(exe));
    HWND splash = WaitForShownSplash(launcher);
    ASSERT_NE(splash, (HWND)NULL);
    ExpectCentred(splash, 200, 60);
    ASSERT_TRUE(launcher.WaitForReport(10000));
    EXPECT_EQ(launcher.CloseAndWait(), ExitFailure);
}

} // namespace
