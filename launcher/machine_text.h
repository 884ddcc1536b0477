// Text that comes from the machine (paths, the command line, the environment) is read as UTF-16;
// the settings, the reports and the runtime's option strings are text in the ANSI code page. These
// convert between the two without ever passing a substitute character on as part of a path.
#pragma once

#include <windows.h>

#include <stddef.h>

/* machine_text.cpp */

// A new heap UTF-16 copy of ANSI text (the caller frees it); null when memory ran out.
WCHAR* WidenText(const char* text);
// A new heap ANSI copy of text when the code page holds every character; null otherwise. Best-fit
// substitutes ("a" for "a with ring") are refused as well: they name some other file.
char* NarrowExactly(const WCHAR* text);
// A new heap ANSI form of a path that a single-byte reader (the runtime's option strings, its
// jvm.dll path) resolves to the same file: the path itself when the code page holds every character,
// else its short (8.3) name. Null, reporting nothing, when neither exists or memory ran out.
char* MakeAnsiPath(const WCHAR* path);
// MakeAnsiPath into buffer (size bytes); false after reporting MsgPathCodePage (or the path as too
// long for the buffer) naming the path.
bool MakeAnsiPathOrReport(const WCHAR* path, char* buffer, size_t size);
// An ANSI rendering of text for reports: each character the code page lacks is shown as <U+XXXX>.
// A text that does not fit is cut, marked "...".
void DescribeWideText(const WCHAR* text, char* buffer, size_t size);
// The reference that stands for the launcher's own folder in its options, arguments and stream files.
#define EXE_DIRECTORY_NAME "KESTRUN_EXE_DIR"
#define EXE_DIRECTORY_REFERENCE L"%KESTRUN_EXE_DIR%"
// A new heap copy of the launcher's folder, without a trailing backslash; null when it cannot be read.
WCHAR* GetExeDirectory();
// text (a heap text, taken over) with each EXE_DIRECTORY_REFERENCE replaced by the launcher's folder:
// text itself when it has none or the folder cannot be read, else a new heap text; null when memory ran out.
WCHAR* ExpandExeDirectory(WCHAR* text);
// True when path does not depend on the current directory's place: it starts at a root (a backslash, a slash,
// a share) or names a drive ("C:").
bool IsAbsolutePath(const char* path);
// IsAbsolutePath of a wide path.
bool IsAbsolutePathW(const WCHAR* path);
