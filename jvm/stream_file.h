// Stream files: the earlier files kept as name.1, name.2, ... at a start, and the files the launcher
// writes itself, where System.out or System.err arrives through a pipe (the readers of capture.cpp) and
// is written by whole lines, with a roll whenever a write would make the file larger than its roll size.
#pragma once

#include <windows.h>

// Bytes a reader holds of an unfinished line; a longer line is written in pieces of this size.
#define STREAM_LINE_SIZE 65536
// Bytes of the buffer that time-stamped lines are composed in before they are written.
#define STREAM_OUT_SIZE 32768

// One file and its rules. Both streams' readers write into the same one when they name the same file.
struct StreamFile {
    const char* Name;      // the file as the setting names it
    WCHAR Path[MAX_PATH];  // the full path, fixed when the file is opened
    HANDLE Handle;         // null while not open
    long long Size;        // bytes in the file
    long long RollBytes;   // the roll size; 0: no roll while the program runs
    int KeepFiles;         // earlier files kept as Path.1 ... Path.KeepFiles
    bool Timestamps;       // each line begins with its local time
    bool MidLine;          // the file ends inside a line longer than STREAM_LINE_SIZE: no stamp, no roll
    SRWLOCK Lock;          // held for a write and its roll
    int OutUsed;           // bytes of Out in use (under Lock)
    char Out[STREAM_OUT_SIZE];
};

// A reader's unfinished line: what came after the last line feed it wrote.
struct StreamHold {
    int Held;
    char Bytes[STREAM_LINE_SIZE];
};

/* stream_file.cpp */

// The files of System.out and System.err (not open unless their stream is written by the launcher).
extern StreamFile StdoutStreamFile;
extern StreamFile StderrStreamFile;

// The full path of a setting's file name (%KESTRUN_EXE_DIR% expanded; relative: to the current
// directory) into path (size characters); false, with the reason as the last error, when it cannot be
// made or does not fit.
bool StreamFilePath(const char* name, WCHAR* path, DWORD size);
// Keeps the earlier file at name (relative: to the current directory) as OpenStreamFile does, for a
// file that Java writes: *append is set when it could not be renamed and is to be appended to. False
// after reporting MsgFileWrite when the name makes no path.
bool KeepEarlierStreamFile(const char* name, int keepFiles, bool* append);
// Opens file at name (relative: to the current directory). With keepFiles > 0 a non-empty earlier file
// is renamed to name.1 (the older ones moved up, the oldest dropped), or appended to when it cannot be
// renamed; with 0 it is emptied. False after reporting MsgFileWrite with the system's reason.
bool OpenStreamFile(StreamFile* file, const char* name, int keepFiles, int rollBytes, bool timestamps);
// Passes the bytes of one read through hold: the complete lines go to the file, an unfinished line stays
// held (written as it is once it fills the hold).
void TakeStreamRead(StreamFile* file, StreamHold* hold, const char* bytes, int size);
// Writes what hold still holds (the stream's last, unfinished line) and empties it.
void FlushStreamHold(StreamFile* file, StreamHold* hold);
// Closes the file; nothing when it is not open.
void CloseStreamFile(StreamFile* file);
