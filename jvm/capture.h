// Capture of the Java program's System.out and System.err through named pipes, so that a failed
// run can be shown together with the program's last output.
#pragma once

#include "capture_buffer.h"
#include "stream_file.h"

#include <windows.h>

#include <jni.h>

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

// Redirects System.out ("setOut") or System.err ("setErr") into a new pipe and starts its reader, which
// keeps the output for a failure report when captures is set and writes it to file unless that is null.
// False after the failure has been reported. When the reader cannot be made a captured stream stays
// where it was (true), and a later failure report says so in its details; a file alone is then opened
// by Java as in mode 1.
bool StartOutputCapture(const char* setterName, bool captures, StreamFile* file, HANDLE* pipe, HANDLE* readerThread);
// Creates the stream's pipe "\\.\pipe\<setter><pid>" (its name into name, nameSize bytes); fails if
// the name exists already. INVALID_HANDLE_VALUE after reporting RC0000014.
HANDLE CreateCapturePipe(const char* setterName, char* name, size_t nameSize);
// Ends the capture of both streams: each reader takes what the pipe holds already, ends, and is
// waited for; then the pipe and the stream files are closed. CapturedOutput no longer changes afterwards.
// Called before the process ends, so that a stream file holds everything the program wrote.
void StopOutputCapture();
// Points System.out and System.err where their stream modes say: a file Java writes, a pipe the
// launcher reads to capture the output or to write a file of its own, or both. False after a report.
bool RouteJavaStreams(JNIEnv* env);
// Reports a failed main-class run: with captured output as the details of the error dialog (or the
// event-log entry), else as a plain error.
void ShowErrorWithCapturedOutput(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Reports that the main class was not found: the captured output (if any) and the class path the JVM
// was given, with the entries that do not exist marked, as the details.
void ShowMainClassNotFound();
