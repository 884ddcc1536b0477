// The one test kit of the Windows test programs: this build's programs, scratch folders and files,
// waiting for a condition, launchers made from a config, the jvm.dll double's trace, the event log.
#pragma once

#include "utf8.h"

#include <windows.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

// A Windows path for a path the build gave in Unix form ("/x/y" -> "Z:\x\y").
std::string WindowsPath(const std::string& path);
// This build's test-double jvm.dll.
std::string DoubleJvmPath();

// --- folders and files
// A fresh empty folder %TEMP%\kestrun-tests\name; name may hold spaces and backslashes.
std::string FreshFolder(const std::string& name);
// Deletes a folder and everything below it (what cannot be deleted stays).
void RemoveTree(const std::string& folder);
// Writes bytes to path, creating the folders on the way; false on failure.
bool WriteFile(const std::string& path, const std::string& bytes);
// The whole file (shared for writing: a log may still be open); "" when it cannot be read.
std::string ReadFile(const std::string& path);
bool PathExists(const std::string& path);

// The system's own text for an error code, as FormatMessageA gives it ("" if it has none).
std::string SystemText(DWORD code);

// Polls condition until it holds or timeoutMs have passed; the condition's last answer.
bool WaitFor(const std::function<bool()>& condition, DWORD timeoutMs = 20000);

// --- launchers
// [launcher] keys of a builder config, by name; values are written in double quotes.
using LauncherKeys = std::map<std::string, std::string>;
// Builds folder\exeName from this build's launcher with the builder's own code (in this process), from a
// config of keys and extra sections as written. "" on failure, with the builder's message in *error.
std::string MakeLauncher(const std::string& folder, const std::string& exeName, const LauncherKeys& keys,
                         const std::string& extraSections, std::string* error);
// Replaces a built launcher's resource id of type (RCDATA: a damaged archive, say) by bytes; false with the reason.
bool WriteRawData(const std::string& exe, int id, const std::string& bytes, std::string* error,
                  LPCSTR type = (LPCSTR)RT_RCDATA);

// --- the jvm.dll double
// Writes the script of a test-double class (dotted name) below the class path folder root.
bool WriteScript(const std::string& root, const std::string& className, const std::string& script);
// The trace lines that start with prefix (after the thread name), prefix removed, in order.
std::vector<std::string> TraceLines(const std::string& tracePath, const std::string& prefix);

// --- the event log: Wine prints each entry on the Wine session's standard error (session.err)
struct EventLine {
    std::string Type;  // "err" for errors, "trace" for information, "warn" for warnings
    std::string Text;  // the insertion string, unescaped
};
// The current length of the session's standard error, from where new entries are read.
size_t EventLogMark();
// The entries printed since mark, in order.
std::vector<EventLine> EventsSince(size_t mark);
