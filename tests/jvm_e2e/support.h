// Launchers made with the builder for end-to-end tests of the Java hosting, run under wine64 against
// the test-double jvm.dll, with what the double traced and what the program wrote read back.
#pragma once

#include "testkit.h"
#include "watcher.h"

#include <windows.h>

#include <map>
#include <string>
#include <vector>

// [launcher] keys of a builder config, by name.
using LauncherKeys = std::map<std::string, std::string>;

// A fresh empty folder for one test under the temporary directory.
std::string FreshFolder(const std::string& name);
// Writes text (bytes as given) to path, creating the folders on the way. False on failure.
bool WriteTextFile(const std::string& path, const std::string& text);
bool PathExists(const std::string& path);
// Writes the script of a test-double class (dotted name) below the class path folder root.
bool WriteScript(const std::string& root, const std::string& className, const std::string& script);
// Builds folder\exeName with the builder from a config holding keys (and extra sections as written).
// "" on failure, with the builder's output in *error.
std::string BuildLauncher(const std::string& folder, const std::string& exeName, const LauncherKeys& keys,
                          const std::string& extraSections, std::string* error);
// The lines of the double's trace that start with prefix (after the thread name), prefix removed.
std::vector<std::string> TraceLines(const std::string& tracePath, const std::string& prefix);
// The options the JVM received, in order (hooks as "vfprintf hook" and so on).
std::vector<std::string> ReceivedOptions(const std::string& tracePath);
// ANSI (the system code page) to UTF-8 and back.
std::string AnsiToUtf8(const std::string& text);
std::string Utf8ToAnsi(const std::string& text);
