// Sees what a user would see: records every dialog and message box that a process shows (caption,
// message, the error dialog's details) and dismisses it, the way a user would.
#pragma once

#include <windows.h>

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// One dialog or message box as it was on the screen.
struct SeenReport {
    std::string Caption;         // window title
    std::string Text;            // a message box's text, or the error dialog's message
    std::string Details;         // the error dialog's details box
    bool IsErrorDialog = false;  // the launcher's error dialog (it has a details box)
};

// How the watcher closes what it saw.
enum class DismissBy { OkButton, EnterKey, EscapeKey, CloseBox };

class ReportWatcher {
public:
    // Watches the visible dialogs of processId from a thread of its own.
    explicit ReportWatcher(DWORD processId, DismissBy dismiss = DismissBy::OkButton);
    ~ReportWatcher() { Stop(); }
    // What was seen so far, in order.
    std::vector<SeenReport> Reports();
    // Stops watching (also done by the destructor).
    void Stop();

private:
    void Look();
    DWORD processId_;
    DismissBy dismiss_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<SeenReport> reports_;
    static const int Reported = -1;
    std::map<HWND, int> looks_;  // how often each box was seen without its text, or Reported
    std::thread thread_;
};

// Result of a launcher run watched to its end.
struct LauncherRun {
    bool Started = false;  // the process could be created
    bool Ended = false;    // it ended within the time allowed (else it was killed)
    DWORD ExitCode = 0;
    std::vector<SeenReport> Reports;
    std::string Name;      // the executable's name without its extension: its reports' caption
                           // when it has no product name
};

// Starts exePath with the command-line tail arguments in workingDirectory (empty: the current one),
// records its reports and dismisses them with OK, and waits for its end (killing it after timeoutMs).
// With streams, standard output and error go to streams.out and .err; flags: CreateProcess's creation flags.
LauncherRun RunAndWatch(const std::string& exePath, const std::string& arguments, const std::string& workingDirectory,
                        DWORD timeoutMs, const std::string& streams = "", DWORD flags = 0);

// Describes reports for a failure message: one line each.
std::string DescribeReports(const std::vector<SeenReport>& reports);
