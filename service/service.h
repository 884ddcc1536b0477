// The Windows service: installing and removing it, and running under the service control manager.
#pragma once

#include <windows.h>

/* install.cpp */

// 1 when the service is installed, 0 when it is not, -1 when that cannot be told (the reason is then
// the last error). Reports nothing.
int QueryServiceInstalled(const char* name);
// Installs the service as the settings describe, with its event-log source; password (null: none) is
// that of a named ServiceAccount. 0 on success; -1 after the failure has been reported, nothing kept.
int InstallService(const char* name, const char* description, const char* password);
// A new heap copy of the first line of standard input (its line end taken off), the password of a
// named ServiceAccount, in the bytes given; what was read beyond it is wiped. Null, with the last error
// set, when there is no input, it ends before any byte, or the line is longer than 1024 bytes. The
// caller wipes and frees it.
char* ReadInputPassword();
// Removes the service (the event-log source stays); 0 on success, 1 when it still runs and is only
// marked for deletion, -1 after the failure has been reported.
int UninstallService(const char* name);
// A new zero-filled heap list of the ';'-separated names in text, each NUL-terminated, ended by an extra
// NUL; an empty entry ends the list there. Null when the heap is exhausted.
char* BuildDependencyList(const char* text);

/* registry.cpp: each closes what it opened; on failure the system's error code is the last error. */

// Creates (or opens) root\path and closes it; 0 on success, -1 on failure.
int RegistryCreateKey(HKEY root, const char* path);
// Writes a REG_EXPAND_SZ value into the existing key root\path; -1 key not opened, 0 written, 1 write failed.
int RegistryWriteExpandString(HKEY root, const char* path, const char* valueName, const char* text);
// Writes a REG_DWORD value into the existing key root\path; -1 key not opened, 0 written, 1 write failed.
int RegistryWriteDword(HKEY root, const char* path, const char* valueName, DWORD number);

/* runtime.cpp */

// The name reports give the service: its display name, else its service name.
const char* ServiceLabel();
// Set by the worker, the JVM's exit and abort hooks or the watchdog when the service is done.
extern HANDLE ServiceDoneEvent;
// Non-zero once the worker started; then the success of its JVM start and main call (a stop's outcome
// never changes it). Written and read with Interlocked calls.
extern volatile LONG ServiceRunOk;
// Non-zero once the stopped status was reported; an exit hook waits for it before ending the process.
extern volatile LONG ServiceStopReported;
// The status with which the program ended the JVM (System.exit, or 3 for an abort), set by the hooks
// before they signal the end; 0 until then. Written and read with Interlocked calls.
extern volatile LONG ServiceExitStatus;

// Sends every later report to the event log, as the source serviceName, before anything else runs:
// runMode RUN_MODE_SERVICE in a process the service control manager started, RUN_MODE_QUIET (standard
// error too) for an install or removal that nobody watches (an installer, a script).
void EnterServiceReporting(const char* serviceName, int runMode);
// Switches reports to the event log and runs the service until it has ended; false when the service
// control manager could not be reached (reported; the switch typed by hand also on standard error).
bool RunServiceDispatcher();
// The service's entry, called by the dispatcher on a thread of its own; the arguments are not used.
void WINAPI ServiceMain(DWORD argc, LPSTR* argv);
// The control handler, called on the dispatcher's thread.
void WINAPI ServiceCtrlHandler(DWORD control);
// Runs the Java application: starts the JVM, calls main with ServiceStartArgs, tears the JVM down.
DWORD WINAPI ServiceWorkerThread(LPVOID unused);
// True when a stop goes through System.exit: ServiceStopByExit, or no ServiceStopArgs to call main with.
bool ServiceStopsByExit();
// Asks the running application to end: System.exit, or a second main call with ServiceStopArgs.
DWORD WINAPI ServiceStopperThread(LPVOID unused);
// Ends the service 30 seconds after a stop request, whether the application has ended or not.
DWORD WINAPI ServiceStopWatchdog(LPVOID unused);
