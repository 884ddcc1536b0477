// Routing of every report the launcher makes: message boxes and the error dialog in an interactive
// run, the event log in service mode. No function here ends the process.
#pragma once

#include <windows.h>

#define RUN_MODE_GUI 1     // reports go to message boxes and the error dialog
#define RUN_MODE_SERVICE 2 // reports go to the event log
#define RUN_MODE_CONSOLE 3 // reports go to standard error as lines; boxes when it takes nothing
#define RUN_MODE_QUIET 4   // reports go to standard error and the event log

// Event-log identifiers of message table 1.
#define MSG_NOTICE 0x40000001L
#define MSG_ERROR 0xC0000002L

// Longest formatted message; a longer one is shown cut, ending in "...".
#define REPORT_TEXT_SIZE 8192
// A report text is ANSI; a UTF-16 unit of the launcher's own messages that the ANSI code page lacks
// travels in it as this byte and four upper-case hex digits, which every channel turns back.
#define REPORT_UNIT_MARK '\x01'
// Longest system text taken as the reason of ShowErrorWithReason.
#define REPORT_REASON_SIZE 4000

/* report.cpp */

// Where reports go: RUN_MODE_GUI, set first by WinMain; RUN_MODE_CONSOLE, set by the console start;
// RUN_MODE_SERVICE, set by the service start; RUN_MODE_QUIET, set by a quiet install or removal.
extern int RunMode;
// Event source of the running service; registered and deregistered by the service runtime, else null.
extern HANDLE EventSourceHandle;
// The executable's instance handle, stored by WinMain; the error dialog is loaded from it.
extern HINSTANCE InstanceHandle;

// Reports a formatted notice.
void ShowNotice(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Reports a formatted error.
void ShowError(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Reports the system's text for the calling thread's last error.
void ShowLastError();
// Reports a formatted error followed by a blank line and "Reason: " with the system's text for the last error.
void ShowErrorWithReason(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Reports a formatted error with a longer details text: the error dialog, or one event-log entry.
void ShowErrorWithDetails(const char* details, const char* format, ...) __attribute__((format(printf, 2, 3)));
// Sends a finished text to the channel that RunMode selects.
void ReportMessage(bool isError, const char* text);
// A new heap UTF-16 copy of a report text, its marked units turned back; null when memory ran out.
WCHAR* WidenReport(const char* text);
// Message box captioned with the application's name (the version resource's product name, else the
// executable's name) and an information icon; returns MessageBoxW's result.
int InformationBox(const char* format, ...) __attribute__((format(printf, 1, 2)));
// The same with an error icon.
int ErrorBox(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Centres a top-level window on the primary screen, keeping its size.
void CenterWindow(HWND window);
// Puts the system's text for an error code into buf (at most size - 1 characters, as the system
// words it, normally ending in CR LF); a code the system has no text for gives "Unknown error N (0xN)".
void GetSystemErrorText(DWORD code, char* buf, DWORD size);
