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

// The UTF-16 unit a marked unit at p stands for (REPORT_UNIT_MARK and four upper-case hex digits);
// -1 when p does not start one.
static int MarkedUnit(const char* p)
{
    if (p[0] != REPORT_UNIT_MARK)
        return -1;
    int unit = 0;
    for (int i = 1; i <= 4; i++) {
        int digit = p[i] >= '0' && p[i] <= '9' ? p[i] - '0' : p[i] >= 'A' && p[i] <= 'F' ? p[i] - 'A' + 10 : -1;
        if (digit < 0)
            return -1;
        unit = unit * 16 + digit;
    }
    return unit;
}

WCHAR* WidenReport(const char* text)
{
    // A byte of the ANSI code page becomes at most one UTF-16 unit, a marked unit's five bytes one.
    size_t size = strlen(text) + 1;
    WCHAR* wide = size < 0x40000000 ? (WCHAR*)malloc(size * sizeof(WCHAR)) : NULL;
    if (wide == NULL)
        return NULL;
    int used = 0;
    const char* piece = text;
    for (const char* p = text;; p++) {
        int unit = MarkedUnit(p);
        if (unit < 0 && *p != 0)
            continue;
        if (p > piece)
            used += MultiByteToWideChar(CP_ACP, 0, piece, (int)(p - piece), wide + used, (int)(p - piece));
        if (*p == 0)
            break;
        wide[used++] = (WCHAR)unit;
        p += 4;
        piece = p + 1;
    }
    wide[used] = 0;
    return wide;
}

// Copies the version resource's ProductName into name (size units, cut to fit); false when there
// is none. The resource is a tree of blocks, each a length, a value length, a type and a UTF-16 key,
// its value on the next 4-byte boundary; the key is looked for where a block's key can start.
static bool ReadProductName(WCHAR* name, size_t size)
{
    static const WCHAR key[] = L"ProductName";
    HRSRC found = FindResourceW(NULL, MAKEINTRESOURCEW(1), (LPCWSTR)RT_VERSION);
    HGLOBAL loaded = found != NULL ? LoadResource(NULL, found) : NULL;
    const BYTE* data = loaded != NULL ? (const BYTE*)LockResource(loaded) : NULL;
    DWORD length = data != NULL ? SizeofResource(NULL, found) : 0;
    for (DWORD at = 0; at + 6 + sizeof(key) + 4 <= length; at += 4) {
        if (memcmp(data + at + 6, key, sizeof(key)) != 0)
            continue;
        WORD units = *(const WORD*)(data + at + 2);
        DWORD value = (at + 6 + sizeof(key) + 3) & ~3u;
        if (units == 0 || value + units * sizeof(WCHAR) > length)
            return false;
        size_t count = units < size - 1 ? units : size - 1;
        memcpy(name, data + value, count * sizeof(WCHAR));
        name[count] = 0;
        return name[0] != 0;
    }
    return false;
}

// The name reports are captioned with: the version resource's product name, else the executable's
// name without its extension; read once. A longer name is cut to the buffer.
static const WCHAR* ApplicationName()
{
    static WCHAR name[128];
    if (name[0] == 0 && !ReadProductName(name, sizeof(name) / sizeof(name[0]))) {
        WCHAR path[MAX_PATH];
        DWORD length = GetModuleFileNameW(NULL, path, MAX_PATH);
        path[length < MAX_PATH ? length : 0] = 0;
        WCHAR* base = wcsrchr(path, '\\') != NULL ? wcsrchr(path, '\\') + 1 : path;
        WCHAR* dot = wcsrchr(base, '.');
        if (dot != NULL && dot != base)
            *dot = 0;
        lstrcpynW(name, base[0] != 0 ? base : L"Error", sizeof(name) / sizeof(name[0]));
    }
    return name;
}

void GetSystemErrorText(DWORD code, char* buf, DWORD size)
{
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL, code,
                                  MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), buf, size, NULL);
    if (length == 0)
        FormatText(buf, size, "Unknown error %lu (0x%08lX)", (unsigned long)code, (unsigned long)code);
}

// A new heap copy of text with every line ended by CR LF, one after the last line too (trailing line
// ends are made one), NUL-terminated; *length receives its length. Null when the heap cannot hold it,
// and for a text of 16 MiB or more (only the JVM's own text can grow so long), which is then shown in
// the window.
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
    memcpy(lines + used, "\r\n", 3);
    *length = used + 2;
    return lines;
}

// Writes a report's lines to standard error: a console takes them as UTF-16 (it would read bytes in
// its own code page, not the ANSI one), a file or pipe as ANSI bytes (a character the code page lacks
// as '?'). False when there is no standard error, it did not take the whole text, or the heap could
// not hold the lines.
static bool WriteStandardError(const char* text)
{
    HANDLE handle = GetStdHandle(STD_ERROR_HANDLE);
    size_t used = 0;
    char* lines = handle != NULL && handle != INVALID_HANDLE_VALUE ? MakeReportLines(text, &used) : NULL;
    WCHAR* wide = lines != NULL ? WidenReport(lines) : NULL;
    free(lines);
    if (wide == NULL)
        return false;
    DWORD mode, written = 0, length = (DWORD)wcslen(wide);
    bool ok;
    if (GetConsoleMode(handle, &mode)) {
        ok = WriteConsoleW(handle, wide, length, &written, NULL) && written == length;
    } else {
        int size = WideCharToMultiByte(CP_ACP, 0, wide, (int)length, NULL, 0, NULL, NULL);
        char* bytes = size > 0 ? (char*)malloc((size_t)size) : NULL;
        ok = bytes != NULL && WideCharToMultiByte(CP_ACP, 0, wide, (int)length, bytes, size, NULL, NULL) == size &&
             WriteFile(handle, bytes, (DWORD)size, &written, NULL) && written == (DWORD)size;
        free(bytes);
    }
    free(wide);
    return ok;
}

// One event-log entry of the text, as UTF-16; without a registered source (or on any other failure,
// memory included) the entry is dropped silently.
static void LogEvent(bool isError, const char* text)
{
    WCHAR* wide = WidenReport(text);
    const WCHAR* strings[1] = {wide};
    if (wide != NULL)
        ReportEventW(EventSourceHandle, isError ? EVENTLOG_ERROR_TYPE : EVENTLOG_INFORMATION_TYPE, 0,
                     isError ? MSG_ERROR : MSG_NOTICE, NULL, 1, 0, strings, NULL);
    free(wide);
}

// The report's lines in the launch log, as UTF-8: characters the code page lacks are written as
// themselves, not as the report's marked units.
static void LogReportLines(const char* prefix, const char* text)
{
    if (LaunchLogFile == NULL)
        return;
    WCHAR* wide = WidenReport(text);
    char* utf8 = wide != NULL ? MakeUtf8Text(wide) : NULL;
    LaunchLogLines(prefix, utf8 != NULL ? utf8 : text);
    free(utf8);
    free(wide);
}

void ReportMessage(bool isError, const char* text)
{
    LogReportLines(isError ? "reported error: " : "reported notice: ", text);
    // A console program's report is a few lines on standard error; only when that cannot take them
    // does it become a box, never lost. A quiet install or removal writes them there and to the log.
    if (RunMode == RUN_MODE_CONSOLE && WriteStandardError(text))
        return;
    if (RunMode == RUN_MODE_QUIET)
        WriteStandardError(text);
    if (RunMode == RUN_MODE_SERVICE || RunMode == RUN_MODE_QUIET)
        return LogEvent(isError, text);
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

// Puts a report text into a control of the dialog as UTF-16, every lone line feed made CR LF, as a
// multi-line edit control breaks lines only there (the JVM's own text ends its lines with a line feed
// alone). When the heap cannot hold the copy, the ANSI text goes in as it is.
static void SetReportText(HWND dialog, int id, const char* text)
{
    size_t feeds = 0;
    for (const char* p = text; *p; p++)
        feeds += *p == '\n';
    char* copy = (char*)malloc(strlen(text) + feeds + 1);
    WCHAR* wide = NULL;
    if (copy != NULL) {
        char* out = copy;
        for (const char* p = text; *p; p++) {
            if (*p == '\n' && (p == text || p[-1] != '\r'))
                *out++ = '\r';
            *out++ = *p;
        }
        *out = 0;
        wide = WidenReport(copy);
    }
    if (wide != NULL)
        SetDlgItemTextW(dialog, id, wide);
    else
        SetDlgItemTextA(dialog, id, text);
    free(wide);
    free(copy);
}

static INT_PTR CALLBACK ErrorDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    (void)lParam;
    switch (message) {
    case WM_INITDIALOG:
        SendDlgItemMessageA(dialog, IDC_ERROR_ICON, STM_SETICON, (WPARAM)LoadIconA(NULL, (LPCSTR)IDI_HAND), 0);
        SetWindowTextW(dialog, ApplicationName());
        SetReportText(dialog, IDC_ERROR_MESSAGE, DialogMessage);
        SendDlgItemMessageA(dialog, IDC_ERROR_DETAILS, EM_SETREADONLY, TRUE, 0);
        SetReportText(dialog, IDC_ERROR_DETAILS, DialogDetails);
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
    LogReportLines("reported error: ", message);
    LogReportLines("reported error, details: ", details);
    if ((RunMode == RUN_MODE_SERVICE || RunMode == RUN_MODE_CONSOLE || RunMode == RUN_MODE_QUIET) &&
        LogErrorWithDetails(message, details))
        return;
    DialogMessage = message;
    DialogDetails = details;
    DialogBoxParamW(InstanceHandle, MAKEINTRESOURCEW(IDD_ERROR), NULL, ErrorDialogProc, 0);
    DialogMessage = "";
    DialogDetails = "";
}

// Shows a message box captioned with the application's name, with the given flags, the text
// formatted from format and args; as UTF-16 unless the heap cannot hold that.
static int FormattedMessageBox(UINT flags, const char* format, va_list args)
{
    char text[REPORT_TEXT_SIZE];
    FormatReport(text, sizeof(text), format, args);
    WCHAR* wide = WidenReport(text);
    int result = wide != NULL ? MessageBoxW(NULL, wide, ApplicationName(), flags) : MessageBoxA(NULL, text, "", flags);
    free(wide);
    return result;
}

int InformationBox(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    int result = FormattedMessageBox(MB_OK | MB_ICONINFORMATION | MB_SETFOREGROUND, format, args);
    va_end(args);
    return result;
}

int ErrorBox(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    int result = FormattedMessageBox(MB_OK | MB_ICONERROR | MB_SETFOREGROUND, format, args);
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
