// Capture of the Java program's System.out and System.err through named pipes, so that a failed
// run can be shown together with the program's last output.
#pragma once

#include <windows.h>

/* capture.cpp */

// Server ends of the capture pipes and their reader threads; null while a stream is not captured.
extern HANDLE StdoutCapturePipe;
extern HANDLE StdoutReaderThread;
extern HANDLE StderrCapturePipe;
extern HANDLE StderrReaderThread;

// Redirects System.out ("setOut") or System.err ("setErr") into a new pipe and starts its reader.
// False after the failure has been reported.
bool StartOutputCapture(const char* setterName, HANDLE* pipe, HANDLE* readerThread);
// Ends the capture of both streams and waits for the readers.
void StopOutputCapture();
// Reports a failed main-class run: with captured output as the details of the error dialog (or the
// event-log entry), else as a plain error.
void ShowErrorWithCapturedOutput(const char* format, ...) __attribute__((format(printf, 1, 2)));
