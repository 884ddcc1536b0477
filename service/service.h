// The Windows service: installing and removing it, and running under the service control manager.
#pragma once

#include <windows.h>

/* service.cpp */

// Set by the worker, the JVM's exit and abort hooks or the watchdog when the service is done.
extern HANDLE ServiceDoneEvent;
// Non-zero once the service reported running; written and read with Interlocked calls.
extern volatile LONG ServiceRunOk;
// Non-zero once the stopped status was reported; an exit hook waits for it before ending the process.
extern volatile LONG ServiceStopReported;

// 1 when the service is installed, 0 when it is not, -1 when that cannot be told.
int QueryServiceInstalled(const char* name);
// Installs the service; 0 on success, -1 after the failure has been reported.
int InstallService(const char* name, const char* description);
// Removes the service; 0 on success, -1 after the failure has been reported.
int UninstallService(const char* name);
// Switches reports to the event log and runs the service until it has ended.
void RunServiceDispatcher();
