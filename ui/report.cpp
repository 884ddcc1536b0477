#include "report.h"

#include "format.h"
#include "launch_log.h"
#include "resource_ids.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

int RunMode = 0;
HANDLE EventSourceHandle = NULL;
HINSTANCE InstanceHandle = NULL;

// Message and details of the error dialog, set by ShowErrorWithDetails just before it opens the dialog.
static const char* DialogMessage = "";
static const char* DialogDetails = "";

// Formats a report; a text that does not fit is shown cut, marked with "...".
static void FormatReport(char* buf, size_t size, const char* format, va_list args)
{
    if (!FormatTextV(buf, size, format, args))
        MarkTextCut(buf, size);
}

void GetSystemErrorText(DWORD code, char* buf, DWORD size)
{
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL, code,
                                  MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), buf, size, NULL);
    if (length == 0)
        FormatText(buf, size, "Unknown error %lu (0x%08lX)", (unsigned long)code, (unsigned long)code);
}

// A new heap copy of text with every line ended by CR LF, one after the last line too (trailing line
// ends are made one); *length receives its length. Null when the heap cannot hold it, and for a text
// of 16 MiB or more (only the JVM's own text can grow so long), which is then shown in the window.
static char* MakeReportLines(const char* text, size_t* length)
{
    size_t size = strlen(text);
    char* lines = size < 0x1000000 ? (char*)malloc(2 * size + 3) : NULL;
    if (lines == NULL)
        return NULL;
    size_t used = 0;
    for (size_t i = 0; i < size; i++) {
        if (text[i] == '\r' && text[i + 1] == '\n')
            continue;
        if (text[i] == '\n')
            lines[used++] = '\r';
        lines[used++] = text[i];
    }
    while (used >= 2 && lines[used - 1] == '\n' && lines[used - 2] == '\r')
        used -= 2;
    memcpy(lines + used, "\r\n", 2);
    *length = used + 2;
    return lines;
}

// Writes a report's lines to standard error: a console takes them as UTF-16 (it would read bytes in
// its own code page, not the ANSI one), a file or pipe as the ANSI bytes. False when there is no
// standard error, it did not take the whole text, or the heap could not hold the lines.
static bool WriteStandardError(const char* text)
{
    HANDLE handle = GetStdHandle(STD_ERROR_HANDLE);
    size_t used = 0;
    char* lines = handle != NULL && handle != INVALID_HANDLE_VALUE ? MakeReportLines(text, &used) : NULL;
    if (lines == NULL)
        return false;
    DWORD mode, written = 0;
    int wide = GetConsoleMode(handle, &mode) ? MultiByteToWideChar(CP_ACP, 0, lines, (int)used, NULL, 0) : 0;
    WCHAR* text16 = wide > 0 ? (WCHAR*)malloc((size_t)wide * sizeof(WCHAR)) : NULL;
    bool ok;
    if (text16 != NULL && MultiByteToWideChar(CP_ACP, 0, lines, (int)used, text16, wide) == wide)
        ok = WriteConsoleW(handle, text16, (DWORD)wide, &written, NULL) && written == (DWORD)wide;
    else
        ok = WriteFile(handle, lines, (DWORD)used, &written, NULL) && written == (DWORD)used;
    free(text16);
    free(lines);
    return ok;
}

void ReportMessage(bool isError, const char* text)
{
    LaunchLogLines(isError ? "reported error: " : "reported notice: ", text);
    // A console program's report is a few lines on standard error; only when that cannot take them
    // does it become a box, never lost. A quiet install or removal writes them there and to the log.
    if (RunMode == RUN_MODE_CONSOLE && WriteStandardError(text))
        return;
    if (RunMode == RUN_MODE_QUIET)
        WriteStandardError(text);
    if (RunMode == RUN_MODE_SERVICE || RunMode == RUN_MODE_QUIET) {
        // Without a registered source (or on any other failure) the entry is dropped silently.
        ReportEventA(EventSourceHandle, isError ? EVENTLOG_ERROR_TYPE : EVENTLOG_INFORMATION_TYPE, 0,
                     isError ? MSG_ERROR : MSG_NOTICE, NULL, 1, 0, &text, NULL);
        return;
    }
    if (isError)
        ErrorBox("%s", text);
    else
        InformationBox("%s", text);
}

void ShowNotice(const char* format, ...)
{
    char text[REPORT_TEXT_SIZE];
    va_list args;
    va_start(args, format);
    FormatReport(text, sizeof(text), format, args);
    va_end(args);
    ReportMessage(false, text);
}

void ShowError(const char* format, ...)
{
    char text[REPORT_TEXT_SIZE];
    va_list args;
    va_start(args, format);
    FormatReport(text, sizeof(text), format, args);
    va_end(args);
    ReportMessage(true, text);
}

void ShowLastError()
{
    DWORD code = GetLastError();
    char text[REPORT_TEXT_SIZE];
    GetSystemErrorText(code, text, sizeof(text));
    ReportMessage(true, text);
}

void ShowErrorWithReason(const char* format, ...)
{
    DWORD code = GetLastError();
    char reason[REPORT_REASON_SIZE];
    char message[4096];
    char text[REPORT_TEXT_SIZE];
    GetSystemErrorText(code, reason, sizeof(reason));
    va_list args;
    va_start(args, format);
    FormatReport(message, sizeof(message), format, args);
    va_end(args);
    if (!FormatText(text, sizeof(text), "%s\n\nReason: %s", message, reason))
        MarkTextCut(text, sizeof(text));
    ReportMessage(true, text);
}

// Puts text into an edit control with every lone line feed made CR LF, as a multi-line edit control
// breaks lines only there (the JVM's own text ends its lines with a line feed alone). When the heap
// cannot hold the copy, the text goes in as it is.
static void SetEditText(HWND dialog, int id, const char* text)
{
    size_t feeds = 0;
    for (const char* p = text; *p; p++)
        feeds += *p == '\n';
    char* copy = (char*)malloc(strlen(text) + feeds + 1);
    if (copy == NULL) {
        SetDlgItemTextA(dialog, id, text);
        return;
    }
    char* out = copy;
    for (const char* p = text; *p; p++) {
        if (*p == '\n' && (p == text || p[-1] != '\r'))
            *out++ = '\r';
        *out++ = *p;
    }
    *out = 0;
    SetDlgItemTextA(dialog, id, copy);
    free(copy);
}

static INT_PTR CALLBACK ErrorDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    (void)lParam;
    switch (message) {
    case WM_INITDIALOG:
        SendDlgItemMessageA(dialog, IDC_ERROR_ICON, STM_SETICON, (WPARAM)LoadIconA(NULL, (LPCSTR)IDI_HAND), 0);
        SetDlgItemTextA(dialog, IDC_ERROR_MESSAGE, DialogMessage);
        SendDlgItemMessageA(dialog, IDC_ERROR_DETAILS, EM_SETREADONLY, TRUE, 0);
        SetEditText(dialog, IDC_ERROR_DETAILS, DialogDetails);
        CenterWindow(dialog);
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
            EndDialog(dialog, 0);
            return TRUE;
        }
        return FALSE;
    case WM_SYSCOMMAND:
        if (wParam == SC_CLOSE) {
            EndDialog(dialog, 0);
            return TRUE;
        }
        return FALSE;
    }
    return FALSE;
}

// The most characters an event-log entry's string may hold; the system refuses the entry beyond it.
#define EVENT_LOG_STRING_MAX 31839

// The heading of the details, and where they start: for the event log, details that would pass its
// limit keep their end (where a failure's cause is written last), from a line start when one is near.
static const char* FitDetails(const char* message, const char* details, char* heading, size_t size)
{
    size_t room = EVENT_LOG_STRING_MAX - strlen(message) - size - 4; // the message is at most 8 KiB
    size_t length = strlen(details);
    FormatText(heading, size, "Details:");
    if (RunMode == RUN_MODE_CONSOLE || length <= room)
        return details;
    const char* start = details + (length - room);
    const char* line = strchr(start, '\n');
    if (line != NULL && line[1] != 0 && line - start < 1024)
        start = line + 1;
    FormatText(heading, size, "Details (their last %u of %u characters: the event log takes no more):",
               (unsigned)strlen(start), (unsigned)length);
    return start;
}

// One event-log error entry, or lines on a console program's standard error: the message, a blank
// line, "Details:" and the details, cut for the event log with a note. When the heap cannot hold the
// combined text, the message alone is reported rather than nothing. False when a console program's
// standard error did not take it.
static bool LogErrorWithDetails(const char* message, const char* details)
{
    char heading[128];
    details = FitDetails(message, details, heading, sizeof(heading));
    size_t size = strlen(message) + strlen(details) + sizeof(heading) + 8;
    char* text = (char*)malloc(size);
    if (text == NULL) {
        ReportMessage(true, message);
        return true;
    }
    FormatText(text, size, "%s\n\n%s\n%s", message, heading, details);
    bool delivered = true;
    if (RunMode == RUN_MODE_CONSOLE)
        delivered = WriteStandardError(text);
    else
        ReportMessage(true, text);
    free(text);
    return delivered;
}

void ShowErrorWithDetails(const char* details, const char* format, ...)
{
    char message[REPORT_TEXT_SIZE];
    va_list args;
    va_start(args, format);
    FormatReport(message, sizeof(message), format, args);
    va_end(args);
    LaunchLogLines("reported error: ", message);
    LaunchLogLines("reported error, details: ", details);
    if ((RunMode == RUN_MODE_SERVICE || RunMode == RUN_MODE_CONSOLE || RunMode == RUN_MODE_QUIET) &&
        LogErrorWithDetails(message, details))
        return;
    DialogMessage = message;
    DialogDetails = details;
    DialogBoxParamA(InstanceHandle, MAKEINTRESOURCEA(IDD_ERROR), NULL, ErrorDialogProc, 0);
    DialogMessage = "";
    DialogDetails = "";
}

// Shows a message box with the given caption and flags, the text formatted from format and args.
static int FormattedMessageBox(const char* caption, UINT flags, const char* format, va_list args)
{
    char text[REPORT_TEXT_SIZE];
    FormatReport(text, sizeof(text), format, args);
    return MessageBoxA(NULL, text, caption, flags);
}

int InformationBox(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    int result = FormattedMessageBox("Information", MB_OK | MB_ICONINFORMATION | MB_SETFOREGROUND, format, args);
    va_end(args);
    return result;
}

int ErrorBox(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    int result = FormattedMessageBox("Error", MB_OK | MB_ICONERROR | MB_SETFOREGROUND, format, args);
    va_end(args);
    return result;
}

void CenterWindow(HWND window)
{
    RECT rect;
    if (!GetWindowRect(window, &rect))
        return;
    int width = rect.right - rect.left;
    int height = rect.bottom - rect.top;
    int x = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
    int y = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
    MoveWindow(window, x, y, width, height, TRUE);
}
