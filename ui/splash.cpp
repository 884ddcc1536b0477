#include "splash.h"

#include "resource_ids.h"
#include "settings.h"

HWND SplashWindow = NULL;
WNDPROC SplashStaticWndProc = NULL;

// Running count of CountVisibleProcessWindows; written on the splash thread inside EnumWindows.
static int VisibleWindowCount = 0;

// The longest timer interval the system keeps; a longer SplashSeconds ends the splash after it.
#define SPLASH_LONGEST_SECONDS (USER_TIMER_MAXIMUM / 1000u)

bool SplashScreenWanted()
{
    return LauncherSettings.SplashUntilWindow || SplashDurationInterval(LauncherSettings.SplashSeconds) != 0;
}

UINT SplashDurationInterval(int seconds)
{
    // A negative duration means no splash; seconds * 1000 must not wrap round to a short interval.
    if (seconds <= 0)
        return 0;
    if ((unsigned)seconds > SPLASH_LONGEST_SECONDS)
        return USER_TIMER_MAXIMUM;
    return (UINT)seconds * 1000;
}

bool StartSplashScreen()
{
    // The splash is a courtesy: without its thread the program still starts, and nothing is reported.
    HANDLE thread = CreateThread(NULL, 0, SplashThread, NULL, 0, NULL);
    if (thread == NULL)
        return false;
    CloseHandle(thread);
    return true;
}

DWORD WINAPI SplashThread(LPVOID parameter)
{
    (void)parameter;
    CreateSplashWindow();
    // Without a window no timer could ever reach a window procedure: the thread has nothing to do.
    if (SplashWindow == NULL)
        return 0;
    UINT duration = SplashDurationInterval(LauncherSettings.SplashSeconds);
    if (LauncherSettings.SplashUntilWindow)
        SetTimer(SplashWindow, IDT_SPLASH_WATCH, SPLASH_WATCH_INTERVAL, NULL);
    else if (duration != 0)
        SetTimer(SplashWindow, IDT_SPLASH_DURATION, duration, NULL);
    MSG message;
    while (GetMessageA(&message, NULL, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    // The window is not destroyed here: it goes with its thread.
    return 0;
}

void CreateSplashWindow()
{
    SplashWindow = CreateWindowExA(0, "STATIC", LauncherSettings.SplashText, WS_POPUP | SS_BITMAP, 0, 0, 0, 0,
                                   NULL, NULL, GetModuleHandleA(NULL), NULL);
    if (SplashWindow == NULL)
        return;
    SplashStaticWndProc = (WNDPROC)GetWindowLongPtrA(SplashWindow, GWLP_WNDPROC);
    SetWindowLongPtrA(SplashWindow, GWLP_WNDPROC, (LONG_PTR)SplashWndProc);
    // Without the picture the window stays hidden; its timer still ends the thread.
    HBITMAP bitmap = LoadBitmapA(GetModuleHandleA(NULL), MAKEINTRESOURCEA(IDB_SPLASH));
    if (bitmap == NULL)
        return;
    // The static control takes the bitmap's size.
    SendMessageA(SplashWindow, STM_SETIMAGE, IMAGE_BITMAP, (LPARAM)bitmap);
    RECT rect;
    GetWindowRect(SplashWindow, &rect);
    int x = (GetSystemMetrics(SM_CXSCREEN) - (rect.right - rect.left)) / 2;
    int y = (GetSystemMetrics(SM_CYSCREEN) - (rect.bottom - rect.top)) / 2;
    SetWindowPos(SplashWindow, NULL, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    ShowWindow(SplashWindow, SW_SHOW);
    BringWindowToTop(SplashWindow);
}

LRESULT CALLBACK SplashWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_NCHITTEST:
        // The whole picture takes the mouse: clicks never fall through to the windows below.
        return HTCLIENT;
    case WM_CLOSE:
        PostQuitMessage(0);
        break;
    case WM_TIMER:
        if (wParam == IDT_SPLASH_DURATION) {
            KillTimer(window, IDT_SPLASH_DURATION);
            CloseSplashScreen();
        } else if (wParam == IDT_SPLASH_WATCH && CountVisibleProcessWindows(GetCurrentProcessId()) > 1) {
            // The splash itself is one of the windows counted.
            KillTimer(window, IDT_SPLASH_WATCH);
            CloseSplashScreen();
        }
        break;
    }
    return CallWindowProcA(SplashStaticWndProc, window, message, wParam, lParam);
}

// Counts one top-level window when it is visible and belongs to the process given in param.
static BOOL CALLBACK CountVisibleWindow(HWND window, LPARAM param)
{
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == (DWORD)param && IsWindowVisible(window))
        VisibleWindowCount++;
    return TRUE;
}

int CountVisibleProcessWindows(DWORD processId)
{
    VisibleWindowCount = 0;
    EnumWindows(CountVisibleWindow, (LPARAM)processId);
    return VisibleWindowCount;
}

void CloseSplashScreen()
{
    ShowWindow(SplashWindow, SW_HIDE);
    PostMessageA(SplashWindow, WM_QUIT, 0, 0);
}
