// Capture of the Java program's System.out and System.err through named pipes, so that a failed
// run can be shown together with the program's last output.
#pragma once

#include "capture_buffer.h"

#include <windows.h>

#include <stddef.h>

/* capture.cpp */

// Server ends of the capture pipes and their reader threads; null while a stream is not captured.
extern HANDLE StdoutCapturePipe;
extern HANDLE StdoutReaderThread;
extern HANDLE StderrCapturePipe;
extern HANDLE StderrReaderThread;
// The last captured output, trimmed by whole lines; written by the readers under the capture mutex.
extern char CapturedOutput[CAPTURE_BUFFER_SIZE];
extern int CapturedOutputLength;
// "mutex" and the process id: the named mutex the readers hold while they change CapturedOutput (one
// without a name when another process made that name first).
extern char CaptureMutexName[32];

// Redirects System.out ("setOut") or System.err ("setErr") into a new pipe and starts its reader.
// False after the failure has been reported. When the reader cannot be made the stream stays where it
// was (true), and a later failure report says so in its details.
bool StartOutputCapture(const char* setterName, HANDLE* pipe, HANDLE* readerThread);
// Creates the stream's pipe "\\.\pipe\<setter><pid>" (its name into name, nameSize bytes); fails if
// the name exists already. INVALID_HANDLE_VALUE after reporting RC0000014.
HANDLE CreateCapturePipe(const char* setterName, char* name, size_t nameSize);
// Ends the capture of both streams: each reader takes what the pipe holds already, ends, and is
// waited for; then the pipe is closed. CapturedOutput no longer changes afterwards.
void StopOutputCapture();
// Reports a failed main-class run: with captured output as the details of the error dialog (or the
// event-log entry), else as a plain error.
void ShowErrorWithCapturedOutput(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Reports that the main class was not found: the captured output (if any) and the class path the JVM
// was given, with the entries that do not exist marked, as the details.
void ShowMainClassNotFound();
