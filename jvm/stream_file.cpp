#include "stream_file.h"

#include "format.h"
#include "machine_text.h"
#include "report.h"
#include "settings.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

StreamFile StdoutStreamFile = {};
StreamFile StderrStreamFile = {};

// Characters of a line's time stamp and the blank after it: "2026-01-31T14:05:09.123+01:00 ".
#define STAMP_LENGTH 30
// Room for a kept file's name: the path, a dot and the number.
#define KEPT_NAME_SIZE (MAX_PATH + 16)

// The bytes of the first line of lines (length bytes), its line feed included; all when it has none.
static int FirstLineLength(const char* lines, int length)
{
    const char* end = (const char*)memchr(lines, '\n', (size_t)length);
    return end != NULL ? (int)(end - lines) + 1 : length;
}

// The number of bytes of the whole lines at the front of lines (length bytes) that fit in room bytes,
// each line counted with stampLength more.
static int WholeLinesWithin(const char* lines, int length, long long room, int stampLength)
{
    int taken = 0;
    long long used = 0;
    while (taken < length) {
        int line = FirstLineLength(lines + taken, length - taken);
        if (used + line + stampLength > room)
            break;
        used += line + stampLength;
        taken += line;
    }
    return taken;
}

// name.number into buffer (KEPT_NAME_SIZE characters); number 0 is name itself. False when it does
// not fit.
static bool KeptName(WCHAR* buffer, const WCHAR* name, int number)
{
    int length = number == 0 ? _snwprintf(buffer, KEPT_NAME_SIZE, L"%ls", name)
                             : _snwprintf(buffer, KEPT_NAME_SIZE, L"%ls.%d", name, number);
    return length >= 0 && length < KEPT_NAME_SIZE;
}

// Moves name to name.1, name.1 to name.2 and so on, up to the first free number or keep (whose file is
// replaced, dropping the oldest). Stopping at a free number means that a roll which failed halfway (a
// file held open by another process) and is tried again moves no file out of the kept ones. False when
// a rename failed: the files from there on are where they were.
static bool ShiftKeptFiles(const WCHAR* name, int keep)
{
    WCHAR from[KEPT_NAME_SIZE], to[KEPT_NAME_SIZE];
    int last = keep;
    for (int number = 1; number < keep; number++) {
        if (!KeptName(to, name, number))
            return false;
        if (GetFileAttributesW(to) == INVALID_FILE_ATTRIBUTES) {
            last = number;
            break;
        }
    }
    for (int number = last; number >= 1; number--) {
        if (!KeptName(from, name, number - 1) || !KeptName(to, name, number))
            return false;
        if (!MoveFileExW(from, to, MOVEFILE_REPLACE_EXISTING))
            return false;
    }
    return true;
}

// Opens path for writing, shared so that a roll can rename it while it is open and others can read it;
// appending keeps what it holds, else it is emptied.
static HANDLE OpenForWriting(const WCHAR* path, bool append)
{
    return CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                       append ? OPEN_ALWAYS : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
}

// The size of the file at path; 0 when there is none.
static long long ExistingSize(const WCHAR* path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path, GetFileExInfoStandard, &data))
        return 0;
    return ((long long)data.nFileSizeHigh << 32) | data.nFileSizeLow;
}

bool StreamFilePath(const char* name, WCHAR* path, DWORD size)
{
    WCHAR* wide = ExpandExeDirectory(WidenText(name));
    DWORD length = wide != NULL ? GetFullPathNameW(wide, size, path, NULL) : 0;
    DWORD error = wide != NULL ? GetLastError() : ERROR_NOT_ENOUGH_MEMORY;
    free(wide);
    // A path longer than the buffer is too long, never used cut.
    SetLastError(length >= size ? ERROR_FILENAME_EXCED_RANGE : error);
    return length > 0 && length < size;
}

// Reports that the file cannot be written, naming its full path, with the system's reason.
static void ShowStreamFileError(const StreamFile* file)
{
    DWORD error = GetLastError();
    char path[MAX_PATH + 64]; // a description that does not fit is shown cut, marked "..."
    DescribeWideText(file->Path, path, sizeof(path));
    SetLastError(error);
    ShowErrorWithReason(LauncherSettings.MsgFileWrite, path);
}

// The earlier run's output is never emptied when it is to be kept: a file that cannot be renamed
// (held open elsewhere) is to be appended to instead (*append).
static void KeepEarlierFile(const WCHAR* path, int keepFiles, bool* append)
{
    *append = keepFiles > 0 && ExistingSize(path) > 0 && !ShiftKeptFiles(path, keepFiles);
}

bool KeepEarlierStreamFile(const char* name, int keepFiles, bool* append)
{
    WCHAR path[MAX_PATH];
    *append = false;
    if (keepFiles <= 0)
        return true;
    if (!StreamFilePath(name, path, MAX_PATH)) {
        ShowErrorWithReason(LauncherSettings.MsgFileWrite, name);
        return false;
    }
    KeepEarlierFile(path, keepFiles, append);
    return true;
}

bool OpenStreamFile(StreamFile* file, const char* name, int keepFiles, int rollBytes, bool timestamps)
{
    file->Name = name;
    if (!StreamFilePath(name, file->Path, MAX_PATH)) {
        ShowErrorWithReason(LauncherSettings.MsgFileWrite, name);
        return false;
    }
    bool append;
    KeepEarlierFile(file->Path, keepFiles, &append);
    HANDLE handle = OpenForWriting(file->Path, append);
    if (handle == INVALID_HANDLE_VALUE) {
        ShowStreamFileError(file);
        return false;
    }
    LARGE_INTEGER end = {};
    SetFilePointerEx(handle, end, &end, FILE_END);
    file->Handle = handle;
    file->Size = end.QuadPart;
    file->RollBytes = rollBytes > 0 ? rollBytes : 0;
    file->KeepFiles = keepFiles > 0 ? keepFiles : 0;
    file->Timestamps = timestamps;
    file->MidLine = false;
    file->OutUsed = 0;
    InitializeSRWLock(&file->Lock);
    return true;
}

// Writes bytes to the file; a write that fails (a full disk) loses them, unreported: a report here
// would stop the reader and with it, once the pipe is full, the program.
static void WriteBytes(StreamFile* file, const char* bytes, int length)
{
    DWORD written = 0;
    if (length > 0 && WriteFile(file->Handle, bytes, (DWORD)length, &written, NULL))
        file->Size += written;
}

// Writes the composed stamped lines.
static void FlushOut(StreamFile* file)
{
    WriteBytes(file, file->Out, file->OutUsed);
    file->OutUsed = 0;
}

// Adds bytes to the composed text, writing it first when they do not fit (a piece longer than the
// buffer is written directly).
static void AddOut(StreamFile* file, const char* bytes, int length)
{
    if (file->OutUsed + length > STREAM_OUT_SIZE)
        FlushOut(file);
    if (length > STREAM_OUT_SIZE) {
        WriteBytes(file, bytes, length);
        return;
    }
    memcpy(file->Out + file->OutUsed, bytes, (size_t)length);
    file->OutUsed += length;
}

// The local time with its offset from UTC and a blank, STAMP_LENGTH characters and the NUL.
static void FormatStamp(char* stamp, size_t size)
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    TIME_ZONE_INFORMATION zone;
    DWORD which = GetTimeZoneInformation(&zone);
    long bias = zone.Bias + (which == TIME_ZONE_ID_DAYLIGHT ? zone.DaylightBias : zone.StandardBias);
    long offset = bias < 0 ? -bias : bias;
    // The fields are bounded, so the stamp always fits.
    FormatText(stamp, size, "%04u-%02u-%02uT%02u:%02u:%02u.%03u%c%02ld:%02ld ", now.wYear, now.wMonth, now.wDay,
               now.wHour, now.wMinute, now.wSecond, now.wMilliseconds, bias > 0 ? '-' : '+', offset / 60,
               offset % 60);
}

// Writes bytes that start at a line start (or continue the file's unfinished line), each line that
// starts here after the stamp when stamps are on.
static void WriteLines(StreamFile* file, const char* lines, int length)
{
    if (!file->Timestamps) {
        WriteBytes(file, lines, length);
        return;
    }
    char stamp[STAMP_LENGTH + 1];
    FormatStamp(stamp, sizeof(stamp));
    bool lineStart = !file->MidLine;
    while (length > 0) {
        int line = FirstLineLength(lines, length);
        if (lineStart)
            AddOut(file, stamp, STAMP_LENGTH);
        AddOut(file, lines, line);
        lineStart = lines[line - 1] == '\n';
        lines += line;
        length -= line;
    }
    FlushOut(file);
}

// Starts a new file: the current one becomes Path.1 (kept files moved up), or is emptied when none are
// kept. False when the renames failed: the current file goes on growing and the roll is tried again at
// the next write, so nothing is lost while another process holds a file open.
static bool RollStreamFile(StreamFile* file)
{
    if (file->KeepFiles == 0) {
        LARGE_INTEGER start = {};
        if (!SetFilePointerEx(file->Handle, start, NULL, FILE_BEGIN) || !SetEndOfFile(file->Handle))
            return false;
        file->Size = 0;
        return true;
    }
    if (!ShiftKeptFiles(file->Path, file->KeepFiles))
        return false;
    // Renamed while open: a new file of the name cannot be made only in a race with another process,
    // and the output then goes on into the renamed one.
    HANDLE next = OpenForWriting(file->Path, false);
    if (next == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(file->Handle);
    file->Handle = next;
    file->Size = 0;
    return true;
}

// Writes a piece that a reader took: complete lines, or part of a line too long to hold.
// With a roll size, whole lines go into the file while they fit and the file rolls before the first
// that does not; a line that does not fit even into an empty file goes in alone. A roll that fails
// is tried once a piece, not once a line.
static void WriteStreamPiece(StreamFile* file, const char* bytes, int length)
{
    AcquireSRWLockExclusive(&file->Lock);
    int stampLength = file->Timestamps ? STAMP_LENGTH : 0;
    while (length > 0) {
        int take = length;
        if (file->RollBytes > 0 && !file->MidLine) {
            take = WholeLinesWithin(bytes, length, file->RollBytes - file->Size, stampLength);
            if (take == 0 && file->Size > 0) {
                if (RollStreamFile(file))
                    continue;
                take = length; // it cannot roll now: the piece goes in whole, the next tries again
            }
            if (take == 0)
                take = FirstLineLength(bytes, length);
        }
        WriteLines(file, bytes, take);
        file->MidLine = bytes[take - 1] != '\n';
        bytes += take;
        length -= take;
    }
    ReleaseSRWLockExclusive(&file->Lock);
}

void TakeStreamRead(StreamFile* file, StreamHold* hold, const char* bytes, int size)
{
    while (size > 0) {
        int step = STREAM_LINE_SIZE - hold->Held < size ? STREAM_LINE_SIZE - hold->Held : size;
        memcpy(hold->Bytes + hold->Held, bytes, (size_t)step);
        hold->Held += step;
        bytes += step;
        size -= step;
        int complete = hold->Held;
        while (complete > 0 && hold->Bytes[complete - 1] != '\n')
            complete--;
        if (complete == 0 && hold->Held == STREAM_LINE_SIZE)
            complete = hold->Held; // a line longer than the hold goes in pieces
        if (complete == 0)
            continue;
        WriteStreamPiece(file, hold->Bytes, complete);
        memmove(hold->Bytes, hold->Bytes + complete, (size_t)(hold->Held - complete));
        hold->Held -= complete;
    }
}

void FlushStreamHold(StreamFile* file, StreamHold* hold)
{
    if (hold->Held > 0)
        WriteStreamPiece(file, hold->Bytes, hold->Held);
    hold->Held = 0;
}

void CloseStreamFile(StreamFile* file)
{
    if (file->Handle == NULL)
        return;
    CloseHandle(file->Handle);
    file->Handle = NULL;
}
