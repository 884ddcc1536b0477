#include "report.h"

#include "format.h"
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

// Writes a report as one line to standard error, when the process has one.
static void WriteStandardError(const char* text)
{
    HANDLE stream = GetStdHandle(STD_ERROR_HANDLE);
    DWORD written;
    size_t length = strlen(text);
    if (stream == NULL || stream == INVALID_HANDLE_VALUE)
        return;
    // The system's texts end in a line end of their own.
    while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == '\r'))
        length--;
    WriteFile(stream, text, (DWORD)length, &written, NULL);
    WriteFile(stream, "\r\n", 2, &written, NULL);
}

void ReportMessage(bool isError, const char* text)
{
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

// One event-log error entry: the message, a blank line, "Details:" and the details. When the heap
// cannot hold the combined text, the message alone is logged rather than nothing.
static void LogErrorWithDetails(const char* message, const char* details)
{
    size_t size = strlen(message) + strlen(details) + 256;
    char* text = (char*)malloc(size);
    if (text == NULL) {
        ReportMessage(true, message);
        return;
    }
    FormatText(text, size, "%s\n\nDetails:\n%s", message, details);
    ReportMessage(true, text);
    free(text);
}

void ShowErrorWithDetails(const char* details, const char* format, ...)
{
    char message[REPORT_TEXT_SIZE];
    va_list args;
    va_start(args, format);
    FormatReport(message, sizeof(message), format, args);
    va_end(args);
    if (RunMode == RUN_MODE_SERVICE || RunMode == RUN_MODE_QUIET) {
        LogErrorWithDetails(message, details);
        return;
    }
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
