#include "handover.h"

#include "entry.h"
#include "format.h"
#include "report.h"
#include "settings.h"

#include <stdlib.h>

// The environment entry a restarting launcher hands its process id and the count of restarts in a
// row to the new process in ("PID COUNT"); the new process removes it at once.
#define RESTART_VARIABLE "KESTRUN_RESTARTED_BY"
// How long a restarted process waits for the one that restarted it to end, in milliseconds.
#define RESTART_PREDECESSOR_WAIT_MS 10000
// A run at least this long (milliseconds) starts the count of restarts in a row anew.
#define RESTART_LONG_RUN_MS 60000
// Restarts come at most once in this many milliseconds.
#define RESTART_INTERVAL_MS 1000

// Restarts in a row before this process, read by AwaitRestartedPredecessor; 0 in a first start.
static int RestartsInRow = 0;

void AwaitRestartedPredecessor()
{
    char value[64]; // a longer value is no launcher's: ignored
    DWORD length = GetEnvironmentVariableA(RESTART_VARIABLE, value, sizeof(value));
    if (length == 0 || length >= sizeof(value))
        return;
    SetEnvironmentVariableA(RESTART_VARIABLE, NULL);
    char* end = NULL;
    unsigned long process = strtoul(value, &end, 10);
    RestartsInRow = atoi(end);
    HANDLE predecessor = OpenProcess(SYNCHRONIZE, FALSE, process);
    if (predecessor != NULL) {
        WaitForSingleObject(predecessor, RESTART_PREDECESSOR_WAIT_MS);
        CloseHandle(predecessor);
    }
}

// Milliseconds since this process started.
static ULONGLONG MillisecondsRunning()
{
    return ProcessAge() / 10000;
}

// The count of restarts in a row that a restart now makes.
static int NextRestartCount()
{
    return MillisecondsRunning() >= RESTART_LONG_RUN_MS ? 1 : RestartsInRow + 1;
}

bool IsRestartRequest(int status)
{
    return RunMode != RUN_MODE_SERVICE && LauncherSettings.RestartExitCode != 0 &&
           status == LauncherSettings.RestartExitCode && NextRestartCount() <= LauncherSettings.RestartLimit;
}

bool StartRestartedProcess()
{
    ULONGLONG running = MillisecondsRunning();
    if (running < RESTART_INTERVAL_MS)
        Sleep((DWORD)(RESTART_INTERVAL_MS - running));
    char value[64]; // two numbers always fit
    FormatText(value, sizeof(value), "%lu %d", GetCurrentProcessId(), NextRestartCount());
    WCHAR executable[MAX_PATH];
    DWORD length = GetModuleFileNameW(NULL, executable, MAX_PATH);
    // The command line is copied: CreateProcessW may write to it. A cut module name is not started.
    WCHAR* commandLine = _wcsdup(GetCommandLineW());
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    bool started = length > 0 && length < MAX_PATH && commandLine != NULL &&
                   SetEnvironmentVariableA(RESTART_VARIABLE, value) &&
                   CreateProcessW(executable, commandLine, NULL, NULL, FALSE, 0, NULL,
                                  StartDirectory[0] != 0 ? StartDirectory : NULL, &startup, &process);
    if (!started) {
        ShowLastError();
    } else {
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    free(commandLine);
    return started;
}
