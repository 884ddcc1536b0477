// The run flow's own steps: directories, the service switches, the single-instance guard.
#pragma once

#include <windows.h>

// The hidden switch with which a cleanup child is started, followed by the parent's process id.
#define CLEANUP_SWITCH_WIDE L"-krremovetemporaryjarfiles"

/* entry.cpp */

// The current directory as the process found it, saved before the launcher changes directory.
extern WCHAR StartDirectory[MAX_PATH + 1];
// The single-instance mutex held by an interactive run; null when none is held.
extern HANDLE SingleInstanceMutex;

// The launcher's whole run: the process exit code for the command-line tail.
int RunLauncher(HINSTANCE instance, const WCHAR* commandLine);
// The command line after the program name and the blanks and tabs behind it, as the C runtime cuts it.
const WCHAR* SkipProgramName(const WCHAR* commandLine);
// Saves the current directory in StartDirectory; false after reporting "CURRENT_DIR".
bool SaveStartDirectory();
// Makes the executable's folder current; false after reporting the failure.
bool EnterExecutableDirectory();
// Performs a service switch given as the only token, or the install or uninstall switch followed by
// "-quiet" (and after the install switch a named account's password) (argc counts slot 0); false when
// not one. *exitCode is then the process's: 0, or 1 when installing or removing failed (reported).
bool DispatchServiceSwitch(int argc, WCHAR** argv, int* exitCode);
// Takes the single-instance mutex named by the application (MakeApplicationName) and, for the modes
// that hand over, serves second starts; false when another instance holds it: this start has then
// refused (reported) or handed its arguments (argc counts slot 0) over, *exitCode says how it went.
bool TakeSingleInstanceGuard(int argc, WCHAR** argv, int* exitCode);
// The time since this process was created, in 100-nanosecond steps; 0 when it cannot be read.
unsigned long long ProcessAge();
