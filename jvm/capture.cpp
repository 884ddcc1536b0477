#include "capture.h"

#include "format.h"
#include "jvm.h"
#include "report.h"
#include "settings.h"
#include "stream_file.h"

#include <stdarg.h>
#include <string.h>

HANDLE StdoutCapturePipe = NULL;
HANDLE StdoutReaderThread = NULL;
HANDLE StderrCapturePipe = NULL;
HANDLE StderrReaderThread = NULL;
char CapturedOutput[CAPTURE_BUFFER_SIZE];
int CapturedOutputLength = 0;
char CaptureMutexName[32];

// The capture mutex, opened by the first append and kept for the process's life.
static HANDLE CaptureMutex = NULL;
// Bytes the pipe buffers for its reader: without a buffer every line the program prints waits until
// the reader has taken it, which makes a chatty program many times slower.
#define CAPTURE_PIPE_BUFFER 65536
// Bytes a reader takes from its pipe at once.
#define CAPTURE_READ_SIZE 16384
// Longest wait, in ms, for a read while a stop takes what the pipe held.
#define CAPTURE_DRAIN_WAIT 200
// Longest waits, in ms, for the capture mutex and for a reader to end after a stop.
#define CAPTURE_LOCK_WAIT 10000
#define CAPTURE_END_WAIT 10000

// Set by StopOutputCapture: the readers take what their pipe holds at that moment, then end.
static HANDLE CaptureStopEvent = NULL;
// Why a configured stream is not captured (its reader could not be made); empty when all are.
static char CaptureNote[256];

HANDLE CreateCapturePipe(const char* setterName, char* name, size_t nameSize)
{
    if (!FormatText(name, nameSize, "\\\\.\\pipe\\%s%lu", setterName, (unsigned long)GetCurrentProcessId())) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        ShowErrorWithReason("Internal error RC0000014");
        return INVALID_HANDLE_VALUE;
    }
    // The name is predictable: a pipe that another process made first would receive the output.
    // First instance only, and a single one, so that creation fails then.
    HANDLE pipe = CreateNamedPipeA(name, PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
                                   PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, 0, CAPTURE_PIPE_BUFFER, 0,
                                   NULL);
    if (pipe == INVALID_HANDLE_VALUE)
        ShowErrorWithReason("Internal error RC0000014");
    return pipe;
}

// Opens the capture mutex once. A name that another process made first is not used: a mutex of theirs
// could be held for ever, so the readers then share one without a name. False after reporting RC000016.
static bool OpenCaptureMutex()
{
    if (CaptureMutex != NULL)
        return true;
    FormatText(CaptureMutexName, sizeof(CaptureMutexName), "mutex%lu", (unsigned long)GetCurrentProcessId());
    HANDLE mutex = CreateMutexA(NULL, FALSE, CaptureMutexName);
    if (mutex != NULL && GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(mutex);
        mutex = CreateMutexA(NULL, FALSE, NULL);
    }
    if (mutex == NULL) {
        ShowErrorWithReason("Internal error RC000016");
        return false;
    }
    CaptureMutex = mutex;
    return true;
}

// Takes the capture mutex; false after reporting RC000016. It is held only for an append, so a wait
// that lasts is a fault, and it is bounded.
static bool LockCapturedOutput()
{
    if (!OpenCaptureMutex())
        return false;
    DWORD waited = WaitForSingleObject(CaptureMutex, CAPTURE_LOCK_WAIT);
    if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
        if (waited == WAIT_TIMEOUT)
            SetLastError(ERROR_TIMEOUT);
        ShowErrorWithReason("Internal error RC000016");
        return false;
    }
    return true;
}

// The sink of the readers' line buffers: appends the lines under one hold of the capture mutex.
// Without the mutex (reported) the lines are lost.
static void AppendCapturedLines(const char* lines, int length)
{
    if (!LockCapturedOutput())
        return;
    AddCapturedLines(CapturedOutput, &CapturedOutputLength, lines, length);
    ReleaseMutex(CaptureMutex);
}

// Bytes waiting in the pipe; 0 when none or the pipe is gone.
static DWORD PipeBytesWaiting(HANDLE pipe)
{
    DWORD waiting = 0;
    if (!PeekNamedPipe(pipe, NULL, 0, NULL, &waiting, NULL))
        return 0;
    return waiting;
}

// Reader state beside its line buffer: once stopping, only the bytes the pipe held are taken.
struct ReaderStop {
    bool Stopping;
    DWORD Drain; // bytes still to take after the stop
};

// Notes a stop: from now on the reader takes only what the pipe holds.
static void BeginStop(HANDLE pipe, ReaderStop* stop)
{
    stop->Stopping = true;
    stop->Drain = PipeBytesWaiting(pipe);
}

// One overlapped read of at most size bytes. Waits for it, or for the stop event, which cancels it.
// False when the pipe is closed or broken (a closed server handle ends the read with 109 under Wine,
// with 995 on Windows) or after a stop that left nothing to take.
static bool ReadCapturePipe(HANDLE pipe, OVERLAPPED* overlapped, char* buffer, DWORD size, DWORD* read,
                            ReaderStop* stop)
{
    *read = 0;
    if (!stop->Stopping && WaitForSingleObject(CaptureStopEvent, 0) == WAIT_OBJECT_0)
        BeginStop(pipe, stop);
    if (stop->Stopping && stop->Drain < size)
        size = stop->Drain;
    if (size == 0)
        return false;
    ResetEvent(overlapped->hEvent);
    if (!ReadFile(pipe, buffer, size, NULL, overlapped)) {
        if (GetLastError() != ERROR_IO_PENDING)
            return false;
        // Once stopping, bytes the pipe held arrive at once; a read that still waits finds no more.
        HANDLE waits[2] = {overlapped->hEvent, CaptureStopEvent};
        DWORD waited = stop->Stopping ? WaitForSingleObject(overlapped->hEvent, CAPTURE_DRAIN_WAIT)
                                      : WaitForMultipleObjects(2, waits, FALSE, INFINITE);
        if (waited != WAIT_OBJECT_0)
            CancelIoEx(pipe, overlapped);
    }
    if (!GetOverlappedResult(pipe, overlapped, read, TRUE)) {
        if (GetLastError() != ERROR_OPERATION_ABORTED || WaitForSingleObject(CaptureStopEvent, 0) != WAIT_OBJECT_0)
            return false;
        if (stop->Stopping)
            return false;
        // Cancelled by the stop: what the pipe holds now is still taken.
        BeginStop(pipe, stop);
        return stop->Drain > 0;
    }
    if (stop->Stopping)
        stop->Drain -= *read < stop->Drain ? *read : stop->Drain;
    return *read > 0 || stop->Stopping;
}

// A reader's pipe and the event of its reads, made before the reader starts, and where it puts what
// it reads: the captured output, a stream file (with its unfinished line), or both.
struct CaptureReader {
    HANDLE Pipe;
    HANDLE ReadEvent;
    bool Captures;
    StreamFile* File;
    StreamHold Hold;
};
static CaptureReader Readers[2];

// Reads the pipe into a line buffer and appends its complete lines until the pipe is closed or
// broken, or a stop has taken what the pipe held when it came. An unfinished last line is dropped from
// the captured output; a stream file gets it.
static DWORD WINAPI OutputReaderThread(void* parameter)
{
    CaptureReader* reader = (CaptureReader*)parameter;
    char line[CAPTURE_LINE_SIZE];
    int held = 0;
    ReaderStop stop = {false, 0};
    OVERLAPPED overlapped;
    memset(&overlapped, 0, sizeof(overlapped));
    overlapped.hEvent = reader->ReadEvent;
    // Reads take up to a chunk at a time and go through the line buffer in its own steps.
    char chunk[CAPTURE_READ_SIZE];
    DWORD read;
    while (ReadCapturePipe(reader->Pipe, &overlapped, chunk, sizeof(chunk), &read, &stop)) {
        if (reader->Captures)
            TakeCapturedRead(line, &held, chunk, (int)read, AppendCapturedLines);
        if (reader->File != NULL)
            TakeStreamRead(reader->File, &reader->Hold, chunk, (int)read);
    }
    if (reader->File != NULL)
        FlushStreamHold(reader->File, &reader->Hold);
    CloseHandle(reader->ReadEvent);
    return 0;
}

// Makes what a reader needs, its thread suspended; false, with the system's reason as the last error,
// when any of it cannot be made.
static bool PrepareReader(CaptureReader* reader, HANDLE* thread)
{
    if (CaptureStopEvent == NULL)
        CaptureStopEvent = CreateEventA(NULL, TRUE, FALSE, NULL);
    reader->ReadEvent = CaptureStopEvent == NULL ? NULL : CreateEventA(NULL, TRUE, FALSE, NULL);
    if (reader->ReadEvent == NULL)
        return false;
    *thread = CreateThread(NULL, 0, OutputReaderThread, reader, CREATE_SUSPENDED, NULL);
    if (*thread != NULL)
        return true;
    DWORD error = GetLastError();
    CloseHandle(reader->ReadEvent);
    SetLastError(error);
    return false;
}

// Notes that a stream stays where it was, and why, for the details of a later failure report.
static void NoteUncaptured(const char* setterName, DWORD error)
{
    char reason[200];
    GetSystemErrorText(error, reason, sizeof(reason));
    size_t used = strlen(CaptureNote);
    // A note that does not fit is left out: the output itself matters more.
    FormatText(CaptureNote + used, sizeof(CaptureNote) - used, "(System.%s was not captured: %s)\r\n",
               strcmp(setterName, "setOut") == 0 ? "out" : "err", reason);
}

bool StartOutputCapture(const char* setterName, bool captures, StreamFile* file, HANDLE* pipe, HANDLE* readerThread)
{
    char name[64];
    *readerThread = NULL;
    *pipe = CreateCapturePipe(setterName, name, sizeof(name));
    if (*pipe == INVALID_HANDLE_VALUE) {
        *pipe = NULL;
        return false;
    }
    // Made before Java writes into the pipe: once its buffer is full, a pipe nobody reads would stop
    // the program. Without them the stream stays as it was.
    CaptureReader* reader = &Readers[strcmp(setterName, "setOut") == 0 ? 0 : 1];
    reader->Pipe = *pipe;
    reader->Captures = captures;
    reader->File = file;
    reader->Hold.Held = 0;
    if ((captures && !OpenCaptureMutex()) || !PrepareReader(reader, readerThread)) {
        DWORD error = GetLastError();
        CloseHandle(*pipe);
        *pipe = NULL;
        // A file alone is then written by Java itself, as in mode 1 without rolls: appended to, so that
        // an earlier run's output that could not be renamed stays.
        if (!captures) {
            CloseStreamFile(file);
            return RedirectJavaStream(CreatingEnv, file->Name, setterName, true);
        }
        NoteUncaptured(setterName, error);
        return true;
    }
    // The JVM opens the pipe as its client here. Should that fail, the reader finds no client and ends.
    bool redirected = RedirectJavaStream(CreatingEnv, name, setterName, false);
    ResumeThread(*readerThread);
    return redirected;
}

// Ends one stream's capture that was started: the reader first, then the pipe. False when a reader
// did not end.
static bool StopStreamCapture(HANDLE* pipe, HANDLE* readerThread)
{
    if (*readerThread == NULL)
        return true;
    // A reader that does not end keeps its pipe: closing it under the reader could let the handle
    // value be reused while it still reads.
    bool ended = WaitForSingleObject(*readerThread, CAPTURE_END_WAIT) == WAIT_OBJECT_0;
    CloseHandle(*readerThread);
    *readerThread = NULL;
    if (ended)
        CloseHandle(*pipe);
    *pipe = NULL;
    return ended;
}

void StopOutputCapture()
{
    // Closing a pipe under a reader could lose what the JVM wrote last (the trace that explains the
    // failure) and leave the reader on a handle value the system may reuse: the readers are stopped
    // by an event instead, take what the pipe holds, and the pipes are closed once they have ended.
    if (CaptureStopEvent != NULL)
        SetEvent(CaptureStopEvent);
    bool ended = StopStreamCapture(&StdoutCapturePipe, &StdoutReaderThread);
    ended = StopStreamCapture(&StderrCapturePipe, &StderrReaderThread) && ended;
    // A reader that did not end may still write into its file, which then stays open.
    if (ended) {
        CloseStreamFile(&StdoutStreamFile);
        CloseStreamFile(&StderrStreamFile);
    }
}

// Shows message with the details a failed run has: why a stream was not captured, the captured
// output, then extra (null: nothing more); a plain error when there are none.
static void ShowRunFailure(const char* extra, const char* message)
{
    bool captured = LauncherSettings.StdoutMode == 2 || LauncherSettings.StderrMode == 2;
    const char* output = captured ? CapturedOutput : "";
    if (extra == NULL)
        extra = "";
    if (output[0] == 0 && CaptureNote[0] == 0 && extra[0] == 0) {
        ShowError("%s", message);
        return;
    }
    GrowableString details = {};
    if (AppendText(&details, CaptureNote) && AppendText(&details, output) && AppendText(&details, extra))
        ShowErrorWithDetails(details.text != NULL ? details.text : "", "%s", message);
    else
        ShowError("%s", message);
    FreeGrowableString(&details);
}

void ShowErrorWithCapturedOutput(const char* format, ...)
{
    StopOutputCapture();
    char message[REPORT_TEXT_SIZE];
    va_list args;
    va_start(args, format);
    if (!FormatTextV(message, sizeof(message), format, args))
        MarkTextCut(message, sizeof(message));
    va_end(args);
    ShowRunFailure(NULL, message);
}

void ShowMainClassNotFound()
{
    StopOutputCapture();
    char message[REPORT_TEXT_SIZE];
    if (!FormatText(message, sizeof(message), LauncherSettings.MsgLocateClass, LauncherSettings.MainClass))
        MarkTextCut(message, sizeof(message));
    GrowableString classPath = {};
    DescribeClassPath(&classPath);
    ShowRunFailure(classPath.text, message);
    FreeGrowableString(&classPath);
}

// How the launcher sends one Java stream where its settings say.
struct StreamRoute {
    const char* Setter; // "setOut" or "setErr"
    int Mode;
    const char* FileName;
    int KeepFiles, RollBytes;
    bool Timestamps;
    StreamFile* File;
    HANDLE* Pipe;
    HANDLE* Reader;
};

// True when the launcher writes the stream's file itself (through a pipe and a reader): in mode 1 to
// roll or stamp lines, in mode 2 when a file is named beside the capture. Keeping the earlier files
// alone needs only a rename at the start, and Java writes the file, with no pipe in between.
static bool LauncherWritesFile(const StreamRoute* route)
{
    if (route->Mode == 2)
        return route->FileName[0] != 0;
    return route->Mode == 1 && (route->RollBytes > 0 || route->Timestamps);
}

// The open stream file of other when it is the file route names too (so that both streams write one
// file and roll it together); null otherwise.
static StreamFile* SharedStreamFile(const StreamRoute* route, const StreamRoute* other)
{
    WCHAR path[MAX_PATH];
    if (other == NULL || other->File->Handle == NULL || !StreamFilePath(route->FileName, path, MAX_PATH))
        return NULL;
    return _wcsicmp(path, other->File->Path) == 0 ? other->File : NULL;
}

// Sends one stream where route says; other is the route already taken (null for the first). False
// after the failure has been reported.
static bool RouteJavaStream(JNIEnv* env, const StreamRoute* route, const StreamRoute* other)
{
    bool owned = LauncherWritesFile(route), append = false;
    if (route->Mode == 1 && !owned)
        return KeepEarlierStreamFile(route->FileName, route->KeepFiles, &append) &&
               RedirectJavaStream(env, route->FileName, route->Setter, append);
    if (route->Mode != 1 && route->Mode != 2)
        return true;
    StreamFile* file = owned ? SharedStreamFile(route, other) : NULL;
    if (owned && file == NULL) {
        file = route->File;
        if (!OpenStreamFile(file, route->FileName, route->KeepFiles, route->RollBytes, route->Timestamps))
            return false;
    }
    return StartOutputCapture(route->Setter, route->Mode == 2, file, route->Pipe, route->Reader);
}

bool RouteJavaStreams(JNIEnv* env)
{
    const LauncherSettingsData& s = LauncherSettings;
    const StreamRoute out = {"setOut", s.StdoutMode, s.StdoutFile, s.StdoutKeepFiles, s.StdoutRollBytes,
                             s.StdoutTimestamps, &StdoutStreamFile, &StdoutCapturePipe, &StdoutReaderThread};
    const StreamRoute err = {"setErr", s.StderrMode, s.StderrFile, s.StderrKeepFiles, s.StderrRollBytes,
                             s.StderrTimestamps, &StderrStreamFile, &StderrCapturePipe, &StderrReaderThread};
    return RouteJavaStream(env, &out, NULL) && RouteJavaStream(env, &err, &out);
}
