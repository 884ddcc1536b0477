// Helpers of the splash tests: finding a process's splash window, waiting for a window to appear or
// go, configured launchers made by the builder, and windows that stand in for a program's frame.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

// Polls condition every 5 ms until it holds (true) or timeoutMs passed (false).
bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs);
// Milliseconds since start, from GetTickCount.
DWORD Since(DWORD start);

// The top-level "Static" window of processId titled text, hidden ones included; null when none.
HWND FindSplash(DWORD processId, const std::string& text);
// True when window exists and is visible.
bool Showing(HWND window);

// A visible top-level window of this thread standing in for a program's first frame; rect in pixels.
HWND ShowProgramWindow(int x, int y, int width, int height);

// Writes an uncompressed 24-bit BMP of width x height filled with one colour (r, g, b); false on failure.
bool WriteSolidBitmap(const std::string& path, int width, int height, BYTE r, BYTE g, BYTE b);
// Writes config to folder\name.ini and runs the builder on it to make folder\name.exe from the built
// launcher. Returns the launcher's path, or "" with the builder's exit code and output in *error.
std::string BuildLauncher(const std::string& folder, const std::string& name, const std::string& config,
                          std::string* error);
// Makes bitmap 8000 of a launcher unloadable (Wine's resource update cannot delete an entry, so it
// gets bytes that are no bitmap); false with the reason in *error.
bool BreakSplashBitmap(const std::string& exe, std::string* error);

// A launcher process whose reports are held open by a watcher while the test looks at its splash.
struct HeldLauncher {
    PROCESS_INFORMATION Process = {};
    class ReportWatcher* Watcher = nullptr;

    // Starts exe without arguments; false when it cannot be created.
    bool Start(const std::string& exe);
    // Waits until the launcher shows its first report (the box that keeps it waiting).
    bool WaitForReport(DWORD timeoutMs);
    // Closes its reports and returns its exit code (killing it after 10 s: then 0xDEAD).
    DWORD CloseAndWait();
    // Threads the process has now; -1 when they cannot be counted.
    int ThreadCount();
    ~HeldLauncher();
};
