#include "watcher.h"

#include "kit.h"

namespace {

std::string WindowText(HWND window)
{
    // WM_GETTEXT crosses process boundaries, GetWindowTextW does not for controls. Read as UTF-16, as shown.
    std::wstring text((size_t)SendMessageW(window, WM_GETTEXTLENGTH, 0, 0) + 1, L'\0');
    text.resize((size_t)SendMessageW(window, WM_GETTEXT, (WPARAM)text.size(), (LPARAM)&text[0]));
    return Utf8(text);
}

SeenReport Describe(HWND window)
{
    // The launcher's error dialog holds its message in control 1001 and its details in the edit box 1002.
    char detailsClass[8] = "";
    HWND details = GetDlgItem(window, 1002);
    bool isErrorDialog = GetClassNameA(details, detailsClass, sizeof(detailsClass)) > 0 &&
                         _stricmp(detailsClass, "Edit") == 0;
    return {WindowText(window), WindowText(GetDlgItem(window, isErrorDialog ? 1001 : 0xFFFF)),
            isErrorDialog ? WindowText(details) : "", isErrorDialog};
}

// Sends a key to the control that has the focus in the window's thread, as typing would.
void PressKey(HWND window, WPARAM key)
{
    GUITHREADINFO info = {};
    info.cbSize = sizeof(info);
    bool focus = GetGUIThreadInfo(GetWindowThreadProcessId(window, NULL), &info) && info.hwndFocus != NULL;
    HWND target = focus ? info.hwndFocus : window;
    PostMessageA(target, WM_KEYDOWN, key, 1);
    PostMessageA(target, WM_KEYUP, key, 0xC0000001);
}

void Dismiss(HWND window, DismissBy how)
{
    if (how == DismissBy::OkButton)
        PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), (LPARAM)GetDlgItem(window, IDOK));
    else if (how == DismissBy::CloseBox)
        PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
    else
        PressKey(window, how == DismissBy::EnterKey ? VK_RETURN : VK_ESCAPE);
}

} // namespace

ReportWatcher::ReportWatcher(DWORD processId, DismissBy dismiss) : processId_(processId), dismiss_(dismiss)
{
    // Polls, since another process's windows announce themselves to nobody.
    thread_ = std::thread([this] {
        for (; !stop_; Sleep(5))
            Look();
    });
}

void ReportWatcher::Stop()
{
    stop_ = true;
    if (thread_.joinable())
        thread_.join();
}

void ReportWatcher::Look()
{
    // Dialogs and message boxes are top-level windows of the dialog class.
    for (HWND window = NULL; (window = FindWindowExA(NULL, window, "#32770", NULL)) != NULL;) {
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (owner != processId_ || !IsWindowVisible(window) || looks_[window] == Reported)
            continue;
        SeenReport report = Describe(window);
        // A box can be visible a moment before its text is set: it is looked at again, for a while.
        if (report.Text.empty() && !report.IsErrorDialog && looks_[window]++ < 200)
            continue;
        looks_[window] = Reported;
        std::lock_guard<std::mutex> lock(mutex_);
        reports_.push_back(report);
        Dismiss(window, dismiss_);
    }
}

std::vector<SeenReport> ReportWatcher::Reports()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return reports_;
}

LauncherRun RunAndWatch(const std::string& exePath, const std::string& arguments,
                        const std::string& workingDirectory, DWORD timeoutMs, const std::string& streams, DWORD flags)
{
    LauncherRun run;
    std::wstring commandLine = Wide("\"" + exePath + "\"" + (arguments.empty() ? "" : " " + arguments));
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    SECURITY_ATTRIBUTES inherited = {sizeof(inherited), NULL, TRUE};
    for (HANDLE* file : {&startup.hStdOutput, &startup.hStdError})
        if (!streams.empty())
            *file = CreateFileW(Wide(streams + (file == &startup.hStdOutput ? ".out" : ".err")).c_str(), GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, &inherited, CREATE_ALWAYS, 0, NULL);
    startup.dwFlags = streams.empty() ? 0 : STARTF_USESTDHANDLES;
    PROCESS_INFORMATION process = {};
    run.Started = CreateProcessW(Wide(exePath).c_str(), &commandLine[0], NULL, NULL, !streams.empty(), flags, NULL,
                                 workingDirectory.empty() ? NULL : Wide(workingDirectory).c_str(), &startup, &process);
    CloseHandle(startup.hStdOutput);  // null without streams: nothing to close
    CloseHandle(startup.hStdError);
    if (!run.Started)
        return run;
    ReportWatcher watcher(process.dwProcessId);
    run.Ended = WaitForSingleObject(process.hProcess, timeoutMs) == WAIT_OBJECT_0;
    if (!run.Ended && TerminateProcess(process.hProcess, 1))
        WaitForSingleObject(process.hProcess, 5000);
    watcher.Stop();
    run.Reports = watcher.Reports();
    run.Name = exePath.substr(exePath.find_last_of("\\/") + 1);
    run.Name = run.Name.substr(0, run.Name.rfind('.'));
    GetExitCodeProcess(process.hProcess, &run.ExitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return run;
}

std::string DescribeReports(const std::vector<SeenReport>& reports)
{
    std::string text;
    for (const SeenReport& report : reports)
        text += "[" + report.Caption + "] " + report.Text +
                (report.IsErrorDialog ? " | details: " + report.Details : "") + "\n";
    return text.empty() ? "(no reports)\n" : text;
}
