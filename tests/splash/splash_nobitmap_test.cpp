// The splash in a program that carries no bitmap 8000: the window is never shown, yet the splash
// thread still ends by its timer.
#include "splash.h"

#include "settings.h"
#include "splash_support.h"

#include <gtest/gtest.h>

namespace {

char SplashTitle[] = "Loading without a picture...";

// Starts the splash and waits until its (hidden) window exists.
HWND StartAndWaitForHiddenSplash(bool untilWindow, int seconds)
{
    LauncherSettings.SplashText = SplashTitle;
    LauncherSettings.SplashUntilWindow = untilWindow;
    LauncherSettings.SplashSeconds = seconds;
    EXPECT_TRUE(StartSplashScreen());
    HWND splash = NULL;
    EXPECT_TRUE(WaitUntil([&] { return (splash = FindSplash(GetCurrentProcessId(), SplashTitle)) != NULL; }, 5000));
    return splash;
}

TEST(SplashWithoutBitmap, DurationModeEndsAfterItsSecondsUnseen)
{
    HWND splash = StartAndWaitForHiddenSplash(false, 1);
    ASSERT_NE(splash, (HWND)NULL);
    DWORD start = GetTickCount();
    bool everShown = false;
    bool ended = WaitUntil(
        [&] {
            everShown = everShown || Showing(splash);
            return !IsWindow(splash);
        },
        4000);
    EXPECT_TRUE(ended) << "the splash thread does not end";
    EXPECT_FALSE(everShown);
    EXPECT_GE(Since(start), 800u);
}

TEST(SplashWithoutBitmap, WatchModeEndsWhenTwoOtherWindowsAreShown)
{
    HWND splash = StartAndWaitForHiddenSplash(true, 0);
    ASSERT_NE(splash, (HWND)NULL);
    // The hidden splash is not counted: one window of the program is not enough.
    HWND first = ShowProgramWindow(0, 0, 100, 100);
    EXPECT_FALSE(WaitUntil([&] { return !IsWindow(splash); }, 600)) << "ended with one other window";
    HWND second = ShowProgramWindow(100, 0, 100, 100);
    DWORD start = GetTickCount();
    EXPECT_TRUE(WaitUntil([&] { return !IsWindow(splash); }, 2000)) << "still there with two other windows";
    EXPECT_LE(Since(start), 300u);
    DestroyWindow(second);
    DestroyWindow(first);
}

} // namespace
