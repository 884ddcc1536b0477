// The splash picture shown while the JVM starts, on a thread of its own with its own window and
// message loop. It closes itself after a fixed time or once the process shows another window.
#pragma once

#include <windows.h>

// Timer that ends the splash after SplashSeconds.
#define IDT_SPLASH_DURATION 1
// Timer that looks for the program's first window every SPLASH_WATCH_INTERVAL ms.
#define IDT_SPLASH_WATCH 2
#define SPLASH_WATCH_INTERVAL 100

/* splash.cpp */

// The splash window; written by the splash thread only.
extern HWND SplashWindow;
// The "STATIC" class's window procedure, saved when the splash window is subclassed.
extern WNDPROC SplashStaticWndProc;

// True when the settings ask for a splash: SplashUntilWindow, or a positive SplashSeconds.
bool SplashScreenWanted();
// The duration timer's interval for a SplashSeconds value: 0 (no timer) for zero or a negative
// value; a value whose milliseconds exceed the system's longest timer gets that longest timer.
UINT SplashDurationInterval(int seconds);
// Starts the splash thread and returns at once; false, reporting nothing, when it cannot be created.
bool StartSplashScreen();
// The splash thread: shows the window, sets its timer, runs the message loop until it closes.
DWORD WINAPI SplashThread(LPVOID parameter);
// Creates SplashWindow and, when bitmap 8000 loads, shows it centred on the screen.
void CreateSplashWindow();
// The splash window's subclass procedure.
LRESULT CALLBACK SplashWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// How many visible top-level windows belong to the process.
int CountVisibleProcessWindows(DWORD processId);
// Hides the splash and ends the splash thread's message loop.
void CloseSplashScreen();
