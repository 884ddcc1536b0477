// Second starts: a start that finds the program running hands over to the running instance, which
// comes to the front and may call a method of the program with the second start's arguments.
#pragma once

#include <windows.h>

// What a second start does (setting SecondInstance).
enum SecondStartMode {
    SECOND_START_REFUSE,   // shows MsgAlreadyRunning and ends
    SECOND_START_ACTIVATE, // brings the running instance's window to the front and ends with 0
    SECOND_START_FORWARD   // as activate, and the running instance calls SecondInstanceMethod
};

// How long a second start waits for the running instance to take its request, in milliseconds.
#define HANDOVER_WAIT_MS 5000
// Largest request a running instance takes, in bytes.
#define HANDOVER_REQUEST_LIMIT (1024 * 1024)

/* handover.cpp */

// The mode SecondInstance names; an unknown text refuses, as launchers did before the setting.
SecondStartMode ReadSecondStartMode();
// The first instance: creates the hand-over pipe named from the application name and starts the
// threads that take requests and deliver them. False (nothing reported) when the pipe cannot be made:
// second starts then wait for it in vain and say so.
bool StartHandoverServer(const char* applicationName, SecondStartMode mode);
// Called by the main thread just before main: requests taken so far and later are delivered from now on.
void ReleaseForwardedCalls();
// A second start hands its arguments (argc counts slot 0) to the running instance by the deadline
// (a GetTickCount value). 1 when it took them; 0 when there is no pipe yet (the instance is starting
// or ending); -1 after reporting that it did not answer in time.
int HandOverToFirstInstance(const char* applicationName, int argc, WCHAR** argv, DWORD deadline);

/* restart.cpp */

// A restarted process: waits (a bounded time) until the process that restarted it has ended, so that
// its JVM and single-instance lock are gone, and takes over the count of restarts in a row.
void AwaitRestartedPredecessor();
// True when the exit status asks for a restart that the limit allows (RestartExitCode, RestartLimit).
bool IsRestartRequest(int status);
// Starts the same executable with the same command line in the start directory, at least a second
// after this process started; false after reporting why it could not.
bool StartRestartedProcess();
