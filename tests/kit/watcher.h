// Sees what a user would see: records every dialog and message box that a process shows (caption,
// message, the error dialog's details, buttons, place) and dismisses it, the way a user would.
#pragma once

#include <windows.h>

#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// One dialog or message box as it was on the screen.
struct SeenReport {
    DWORD ProcessId = 0;
    std::string Caption;         // window title
    std::string Text;            // a message box's text, or the error dialog's message
    std::string Details;         // the error dialog's details box
    bool IsErrorDialog = false;  // the launcher's error dialog (it has a details box)
    LONG DetailsStyle = 0;       // style bits of the details box
    LONG DetailsExStyle = 0;     // its extended style bits
    int DetailsLineCount = 0;    // lines the details box shows
    std::vector<int> ButtonIds;  // command buttons, by control id
    HICON Icon = NULL;           // a message box's icon (comparable within one process only)
    RECT Rect = {};              // window rectangle in screen pixels
};

// How the watcher closes what it saw.
enum class DismissBy { OkButton, EnterKey, EscapeKey, CloseBox, Nothing };

class ReportWatcher {
public:
    // Watches the visible dialogs of processId (0: of any process) from a thread of its own.
    explicit ReportWatcher(DWORD processId = 0, DismissBy dismiss = DismissBy::OkButton);
    ~ReportWatcher();
    // Waits until at least count reports were seen; false on timeout.
    bool WaitForCount(size_t count, DWORD timeoutMs);
    // What was seen so far, in order.
    std::vector<SeenReport> Reports();
    // Stops watching (also done by the destructor).
    void Stop();

private:
    void Run();
    void Look();
    DWORD processId_;
    DismissBy dismiss_;
    std::mutex mutex_;
    std::vector<SeenReport> reports_;
    std::vector<HWND> seen_;
    std::map<HWND, int> pending_;  // boxes seen without their text yet, and how often
    HANDLE stopEvent_;
    std::thread thread_;
};

// Result of a launcher run watched to its end.
struct LauncherRun {
    bool Started = false;      // the process could be created
    bool Ended = false;        // it ended within the time allowed (else it was killed)
    DWORD ExitCode = 0;        // its exit code
    std::vector<SeenReport> Reports;
};

// Starts exePath with the command-line tail arguments in workingDirectory (empty: the current one),
// records and dismisses its reports, and waits for its end (killing it after timeoutMs).
LauncherRun RunAndWatch(const std::string& exePath, const std::string& arguments,
                        const std::string& workingDirectory = "", DWORD timeoutMs = 20000,
                        DismissBy dismiss = DismissBy::OkButton);

// Describes reports for a failure message: one line each.
std::string DescribeReports(const std::vector<SeenReport>& reports);
