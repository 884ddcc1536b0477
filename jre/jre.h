// Finding a Java runtime: the jvm.dll of the first acceptable runtime, in the order JreSearchOrder
// gives: the configured paths and the old runtime keys under HKEY_LOCAL_MACHINE (methods '0' to '4'),
// and the runtimes of today (methods 'B', 'E', 'J' and 'V').
#pragma once

#include <windows.h>

#include "java_version.h"

#include <stddef.h>

// One candidate of the search, as the builder's find-java command shows it.
struct RuntimeCandidateReport {
    char Method;         // the JreSearchOrder character that found it
    const char* Source;  // where it came from: a registry key, a variable, a path
    const char* Home;    // its home folder, or ""
    const char* Version; // the version it was judged by, or ""
    const char* Jvm;     // the jvm.dll considered, or ""
    const char* Verdict; // "taken", "acceptable", or why it was passed over
};
typedef void (*RuntimeCandidateReporter)(const RuntimeCandidateReport* report);

/* jre.cpp */

// Home folder of the accepted runtime (%JAVA_HOME% of the option text); empty when none was recorded.
extern char FoundJavaHome[260];
// The development kit's VM below its home, set when search method 2, 3 or 4 begins; null before.
extern const char* JdkJvmSubPath;

// The registry view methods 1 to 4 read: 0, the process's own (the launcher's), unless set before the
// search; find-java sets KEY_WOW64_32KEY for a 32-bit launcher.
extern REGSAM RuntimeRegistryView;
// Receives every candidate the search considers; null (the launcher) reports nothing.
extern RuntimeCandidateReporter RuntimeSearchReporter;

// Searches for the jvm.dll of a runtime at least as new as JavaVersion. True with its path in result
// (size bytes, 260). Shows the user nothing; passes each candidate to RuntimeSearchReporter.
bool FindJavaRuntime(char* result, size_t size);
// Reads a REG_SZ or REG_EXPAND_SZ value (unexpanded) into buffer in the ANSI code page, a path the
// code page cannot carry by its short name: -1 when the key cannot be opened, 0 when read, 2 when the
// text does not fit in size bytes, 1 in every other case (a text with no ANSI form among them).
int RegistryReadString(HKEY root, const char* subkey, const char* valueName, char* buffer, DWORD size);
// JavaVersion as the search applies it: 0 (no minimum) when it does not read as a version.
void ReadMinimumJavaVersion(JavaVersionNumber* minimum);
// True when the file can be opened for reading.
bool FileExists(const char* path);
// Passes one candidate to RuntimeSearchReporter, if there is one. Null texts are shown as "".
void ReportCandidate(char method, const char* source, const char* home, const char* version, const char* jvm,
                     const char* verdict);

/* modern.cpp */

// Machine type a jvm.dll must have in the new methods: the launcher's own unless set before the search.
extern WORD RuntimeMachine;
// Folder of the launcher, without a trailing backslash; filled by the first new method that needs it
// unless set before the search.
extern char LauncherFolder[260];

// The Java versions the application takes, as MsgNoJre names them: "Java 17 or later", "Java 8 to 11"
// (a text too long for text, size bytes, is cut).
void DescribeNeededJava(char* text, size_t size);
// "Java <version> is older than the Java <minimum> this application needs" in verdict (size bytes,
// cut to fit); verdict.
const char* TooOldVerdict(const char* version, char* verdict, size_t size);
// Runs new search method 'B', 'E', 'J' or 'V': the newest acceptable candidate it finds. True with its
// jvm.dll in result (size bytes) and its home in FoundJavaHome. False for any other character.
bool FindModernRuntime(char method, char* result, size_t size);
