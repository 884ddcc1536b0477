// The launch log: one line per step of a start, appended to the file that KESTRUN_LOG or the LaunchLog
// setting names, for finding out afterwards what the launcher did. Each line is written and reaches
// the file as it happens, so a launcher that crashes or hangs leaves its log up to that point.
#pragma once

#include <windows.h>

#include <stddef.h>

/* launch_log.cpp */

// Where lines go: null while the log is off (a call then costs one test), else the open file, or
// INVALID_HANDLE_VALUE for standard error ("-"). Set once by StartLaunchLog.
extern HANDLE LaunchLogFile;

// Opens the log KESTRUN_LOG names, else the one the LaunchLog setting names (its %VAR% references
// expanded; a relative name beside the executable), and writes the launcher's version, path and the
// number of command-line arguments (argc counts the program name). Nothing when neither names one;
// a log that cannot be opened stays off, unreported.
void StartLaunchLog(int argc);
// Appends one line: the milliseconds since the process started, then the formatted text (UTF-8, or
// settings text as it is). A line too long for the heap is written cut.
void LaunchLog(const char* format, ...) __attribute__((format(printf, 1, 2)));
// LaunchLog of each line of text (lines end in CR LF or LF), each after prefix.
void LaunchLogLines(const char* prefix, const char* text);
// The length of a JVM option's text that the log may show: all of it, except for a -D option whose
// name holds "password" or "secret" (in any case), whose value is hidden.
size_t ShownOptionLength(const char* option);
// A new heap UTF-8 copy of text from the machine (the caller frees it); null when memory ran out.
char* MakeUtf8Text(const WCHAR* text);
