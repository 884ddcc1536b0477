#include "watcher.h"

#include <algorithm>

namespace {

std::string WindowText(HWND window)
{
    // WM_GETTEXT crosses process boundaries, GetWindowTextA does not for controls.
    LRESULT length = SendMessageA(window, WM_GETTEXTLENGTH, 0, 0);
    std::string text((size_t)length + 1, '\0');
    LRESULT got = SendMessageA(window, WM_GETTEXT, (WPARAM)text.size(), (LPARAM)&text[0]);
    text.resize((size_t)std::max<LRESULT>(got, 0));
    return text;
}

std::string ClassName(HWND window)
{
    char name[64] = "";
    GetClassNameA(window, name, sizeof(name));
    return name;
}

BOOL CALLBACK CollectButton(HWND child, LPARAM param)
{
    auto* report = (SeenReport*)param;
    if (_stricmp(ClassName(child).c_str(), "Button") == 0 && IsWindowVisible(child))
        report->ButtonIds.push_back(GetDlgCtrlID(child));
    return TRUE;
}

SeenReport Describe(HWND window, DWORD processId)
{
    SeenReport report;
    report.ProcessId = processId;
    report.Caption = WindowText(window);
    GetWindowRect(window, &report.Rect);
    HWND details = GetDlgItem(window, 1002);
    if (details != NULL && _stricmp(ClassName(details).c_str(), "Edit") == 0) {
        report.IsErrorDialog = true;
        report.Text = WindowText(GetDlgItem(window, 1001));
        report.Details = WindowText(details);
        report.DetailsStyle = GetWindowLongA(details, GWL_STYLE);
        report.DetailsExStyle = GetWindowLongA(details, GWL_EXSTYLE);
        report.DetailsLineCount = (int)SendMessageA(details, EM_GETLINECOUNT, 0, 0);
    } else {
        report.Text = WindowText(GetDlgItem(window, 0xFFFF));
        report.Icon = (HICON)SendDlgItemMessageA(window, 1088, STM_GETICON, 0, 0);
    }
    EnumChildWindows(window, CollectButton, (LPARAM)&report);
    std::sort(report.ButtonIds.begin(), report.ButtonIds.end());
    return report;
}

// Sends a key to the control that has the focus in the window's thread, as typing would.
void PressKey(HWND window, WPARAM key)
{
    GUITHREADINFO info = {};
    info.cbSize = sizeof(info);
    HWND target = window;
    if (GetGUIThreadInfo(GetWindowThreadProcessId(window, NULL), &info) && info.hwndFocus != NULL)
        target = info.hwndFocus;
    PostMessageA(target, WM_KEYDOWN, key, 1);
    PostMessageA(target, WM_KEYUP, key, 0xC0000001);
}

void Dismiss(HWND window, DismissBy how)
{
    switch (how) {
    case DismissBy::OkButton:
        PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), (LPARAM)GetDlgItem(window, IDOK));
        break;
    case DismissBy::EnterKey:
        PressKey(window, VK_RETURN);
        break;
    case DismissBy::EscapeKey:
        PressKey(window, VK_ESCAPE);
        break;
    case DismissBy::CloseBox:
        PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
        break;
    case DismissBy::Nothing:
        break;
    }
}

struct Candidates {
    DWORD ProcessId;
    std::vector<std::pair<HWND, DWORD>> Windows;
};

BOOL CALLBACK CollectDialog(HWND window, LPARAM param)
{
    auto* candidates = (Candidates*)param;
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == GetCurrentProcessId() && candidates->ProcessId != owner)
        return TRUE;
    if ((candidates->ProcessId == 0 || owner == candidates->ProcessId) && IsWindowVisible(window) &&
        ClassName(window) == "#32770")
        candidates->Windows.push_back({window, owner});
    return TRUE;
}

} // namespace

ReportWatcher::ReportWatcher(DWORD processId, DismissBy dismiss)
    : processId_(processId), dismiss_(dismiss), stopEvent_(CreateEventA(NULL, TRUE, FALSE, NULL))
{
    thread_ = std::thread([this] { Run(); });
}

ReportWatcher::~ReportWatcher()
{
    Stop();
    CloseHandle(stopEvent_);
}

void ReportWatcher::Stop()
{
    SetEvent(stopEvent_);
    if (thread_.joinable())
        thread_.join();
}

void ReportWatcher::Run()
{
    // Polls, since another process's windows announce themselves to nobody.
    while (WaitForSingleObject(stopEvent_, 5) == WAIT_TIMEOUT)
        Look();
}

void ReportWatcher::Look()
{
    Candidates candidates{processId_, {}};
    EnumWindows(CollectDialog, (LPARAM)&candidates);
    for (auto [window, owner] : candidates.Windows) {
        if (std::find(seen_.begin(), seen_.end(), window) != seen_.end())
            continue;
        SeenReport report = Describe(window, owner);
        // A box can be visible a moment before its text is set: it is looked at again, for a while.
        if (report.Text.empty() && !report.IsErrorDialog && pending_[window]++ < 200)
            continue;
        seen_.push_back(window);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            reports_.push_back(report);
        }
        Dismiss(window, dismiss_);
    }
}

bool ReportWatcher::WaitForCount(size_t count, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (reports_.size() >= count)
                return true;
        }
        if (GetTickCount() - start > timeoutMs)
            return false;
        Sleep(5);
    }
}

std::vector<SeenReport> ReportWatcher::Reports()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return reports_;
}

LauncherRun RunAndWatch(const std::string& exePath, const std::string& arguments,
                        const std::string& workingDirectory, DWORD timeoutMs, DismissBy dismiss)
{
    LauncherRun run;
    std::string commandLine = "\"" + exePath + "\"" + (arguments.empty() ? "" : " " + arguments);
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    run.Started = CreateProcessA(exePath.c_str(), &commandLine[0], NULL, NULL, FALSE, 0, NULL,
                                 workingDirectory.empty() ? NULL : workingDirectory.c_str(), &startup,
                                 &process) != 0;
    if (!run.Started)
        return run;
    {
        ReportWatcher watcher(process.dwProcessId, dismiss);
        run.Ended = WaitForSingleObject(process.hProcess, timeoutMs) == WAIT_OBJECT_0;
        if (!run.Ended) {
            TerminateProcess(process.hProcess, 1);
            WaitForSingleObject(process.hProcess, 5000);
        }
        watcher.Stop();
        run.Reports = watcher.Reports();
    }
    GetExitCodeProcess(process.hProcess, &run.ExitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return run;
}

std::string DescribeReports(const std::vector<SeenReport>& reports)
{
    std::string text;
    for (const SeenReport& report : reports) {
        text += "[" + report.Caption + "] " + report.Text;
        if (report.IsErrorDialog)
            text += " | details: " + report.Details;
        text += "\n";
    }
    return text.empty() ? "(no reports)\n" : text;
}
