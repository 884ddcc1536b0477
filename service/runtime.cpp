// The service runtime: the dispatcher connection, the status reports, and the worker, stopper and
// watchdog threads that run and stop the Java application.
#include "service.h"

#include "format.h"
#include "jvm.h"
#include "launch_log.h"
#include "report.h"
#include "settings.h"

// The stop wait hint reported to the service control manager, and the watchdog's limit.
#define SERVICE_STOP_WAIT_HINT 40000
#define SERVICE_STOP_TIMEOUT 30000
// The service-specific exit code reported when the Java side failed.
#define SERVICE_FAILED_CODE 1013

HANDLE ServiceDoneEvent = NULL;
// Set by the worker once the JVM start has succeeded or failed; a stopper waits for it, so that a stop
// that arrives during the start stops the JVM that comes rather than failing to find one.
static HANDLE JvmSettledEvent = NULL;
volatile LONG ServiceRunOk = 0;
volatile LONG ServiceStopReported = 0;
volatile LONG ServiceExitStatus = 0;
// Non-zero once a stop or shutdown control was taken: later ones start no second stopper.
static volatile LONG StopRequested = 0;

// The one status record, passed whole each time; written and reported only under StatusGuard, so
// that the control handler and ServiceMain never interleave, and nothing follows SERVICE_STOPPED.
static SERVICE_STATUS ServiceStatus;
static SRWLOCK StatusGuard = SRWLOCK_INIT;
// The handle of the registered control handler, set by ServiceMain.
static SERVICE_STATUS_HANDLE ServiceStatusHandle = NULL;

const char* ServiceLabel()
{
    return LauncherSettings.ServiceDisplayName[0] != 0 ? LauncherSettings.ServiceDisplayName : LauncherSettings.ServiceName;
}

void EnterServiceReporting(const char* serviceName, int runMode)
{
    RunMode = runMode;
    EventSourceHandle = RegisterEventSourceA(NULL, serviceName);
}

bool RunServiceDispatcher()
{
    SERVICE_TABLE_ENTRYA table[2] = {{LauncherSettings.ServiceName, ServiceMain}, {NULL, NULL}};
    RunMode = RUN_MODE_SERVICE;
    if (!StartServiceCtrlDispatcherA(table)) {
        if (GetLastError() != ERROR_FAILED_SERVICE_CONTROLLER_CONNECT) {
            ShowErrorWithReason("Internal error RC000003");
            return false;
        }
        // The switch was typed by hand (or given by a script): whoever did it reads standard error.
        RunMode = RUN_MODE_QUIET;
        ShowErrorWithReason("Only the service control manager starts this program with %s: start the %s "
                            "service with \"net start %s\".", LauncherSettings.ServiceSwitch,
                            LauncherSettings.ServiceName, LauncherSettings.ServiceName);
        return false;
    }
    return true;
}

// Reports state with waitHint and the service-specific code (0: none) under StatusGuard; false, with
// nothing reported, once SERVICE_STOPPED was: that state is final.
static bool ReportServiceState(DWORD state, DWORD waitHint, DWORD specificCode)
{
    AcquireSRWLockExclusive(&StatusGuard);
    bool open = ServiceStatus.dwCurrentState != SERVICE_STOPPED;
    if (open) {
        ServiceStatus.dwCurrentState = state;
        ServiceStatus.dwWaitHint = waitHint;
        ServiceStatus.dwWin32ExitCode = specificCode != 0 ? ERROR_SERVICE_SPECIFIC_ERROR : NO_ERROR;
        ServiceStatus.dwServiceSpecificExitCode = specificCode;
        SetServiceStatus(ServiceStatusHandle, &ServiceStatus);
    }
    ReleaseSRWLockExclusive(&StatusGuard);
    return open;
}

// Reports the final state: stopped, with a service-specific code when the Java side failed (1013) or
// the program ended the JVM with a non-zero status (that status), so that the manager shows it and
// can take its failure actions.
static void ReportServiceStopped()
{
    LONG status = InterlockedCompareExchange(&ServiceExitStatus, 0, 0);
    DWORD code = 0;
    if (status != 0) {
        char number[16];
        FormatText(number, sizeof(number), "%ld", (long)status);
        ShowError(LauncherSettings.MsgServiceExitStatus, ServiceLabel(), number);
        code = (DWORD)status;
    } else if (InterlockedCompareExchange(&ServiceRunOk, 0, 0) != 0) {
        ShowNotice(LauncherSettings.MsgServiceStopped, ServiceLabel());
    } else {
        // A main that threw has been logged as the failure, with its details: once is enough.
        if (!MainThrew)
            ShowError(LauncherSettings.MsgServiceStartFailed, ServiceLabel());
        code = SERVICE_FAILED_CODE;
    }
    LaunchLog("service stopped, exit code %lu reported to the service manager", code);
    ReportServiceState(SERVICE_STOPPED, 0, code);
}

// Starts the worker and waits until someone declares the service done; false when that could not start.
static bool RunServiceWorker()
{
    HANDLE worker = CreateThread(NULL, 0, ServiceWorkerThread, NULL, 0, NULL);
    if (worker == NULL) {
        ShowErrorWithReason("Internal error RC000005");
        return false;
    }
    CloseHandle(worker);
    WaitForSingleObject(ServiceDoneEvent, INFINITE);
    return true;
}

void WINAPI ServiceMain(DWORD argc, LPSTR* argv)
{
    (void)argc;
    (void)argv;
    if (EventSourceHandle == NULL)
        EventSourceHandle = RegisterEventSourceA(NULL, LauncherSettings.ServiceName);
    ServiceStatus.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    ServiceStatus.dwControlsAccepted = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN;
    ServiceStatusHandle = RegisterServiceCtrlHandlerA(LauncherSettings.ServiceName, ServiceCtrlHandler);
    if (EventSourceHandle == NULL) {
        // Nothing can be logged; returning without a status would leave the dispatcher (and so the
        // process) waiting for ever, so the failure is reported as a stop.
        ReportServiceStopped();
        InterlockedExchange(&ServiceStopReported, 1);
        return;
    }
    ShowNotice(LauncherSettings.MsgServiceStarted, ServiceLabel());
    // Made before the running report, so that a stop arriving at once always finds it.
    ServiceDoneEvent = CreateEventA(NULL, FALSE, FALSE, NULL);
    DWORD eventError = GetLastError();
    JvmSettledEvent = CreateEventA(NULL, TRUE, FALSE, NULL);
    ReportServiceState(SERVICE_RUNNING, 0, 0);
    if (ServiceDoneEvent == NULL) {
        SetLastError(eventError);
        ShowErrorWithReason("Internal error RC000004");
    }
    if (ServiceDoneEvent == NULL || !RunServiceWorker())
        InterlockedExchange(&ServiceRunOk, 0);
    ReportServiceStopped();
    DeregisterEventSource(EventSourceHandle);
    EventSourceHandle = NULL;
    InterlockedExchange(&ServiceStopReported, 1);
}

// Starts a thread that runs procedure; false, after reporting the system's reason, when it cannot.
static bool StartServiceThread(LPTHREAD_START_ROUTINE procedure)
{
    HANDLE thread = CreateThread(NULL, 0, procedure, NULL, 0, NULL);
    if (thread == NULL) {
        ShowLastError();
        return false;
    }
    CloseHandle(thread);
    return true;
}

void WINAPI ServiceCtrlHandler(DWORD control)
{
    if (control != SERVICE_CONTROL_STOP && control != SERVICE_CONTROL_SHUTDOWN) {
        // Answers SERVICE_CONTROL_INTERROGATE (and any other control) with the status as it stands.
        AcquireSRWLockExclusive(&StatusGuard);
        SetServiceStatus(ServiceStatusHandle, &ServiceStatus);
        ReleaseSRWLockExclusive(&StatusGuard);
        return;
    }
    // A stop that comes after the service has stopped, or a second one, changes nothing.
    if (InterlockedExchange(&StopRequested, 1) != 0 ||
        !ReportServiceState(SERVICE_STOP_PENDING, SERVICE_STOP_WAIT_HINT, 0))
        return;
    LaunchLog("service %s requested: the program is stopped %s", control == SERVICE_CONTROL_STOP ? "stop" : "shutdown",
              ServiceStopsByExit() ? "through System.exit(0)" : "by a main call with ServiceStopArgs");
    StartServiceThread(ServiceStopperThread);
    if (!StartServiceThread(ServiceStopWatchdog))
        SetEvent(ServiceDoneEvent);
}

DWORD WINAPI ServiceWorkerThread(LPVOID unused)
{
    (void)unused;
    InterlockedExchange(&ServiceRunOk, 1);
    bool ok = StartJvm(true);
    InterlockedExchange(&ServiceRunOk, ok ? 1 : 0);
    if (JvmSettledEvent != NULL)
        SetEvent(JvmSettledEvent);
    if (ok) {
        ok = RunMainWithSetting(LauncherSettings.ServiceStartArgs, false);
        InterlockedExchange(&ServiceRunOk, ok ? 1 : 0);
        ReleaseJvm();
    }
    SetEvent(ServiceDoneEvent);
    return 0;
}

bool ServiceStopsByExit()
{
    return LauncherSettings.ServiceStopByExit || LauncherSettings.ServiceStopArgs[0] == 0;
}

DWORD WINAPI ServiceStopperThread(LPVOID unused)
{
    (void)unused;
    // Without the event the stopper goes on at once, as it always could; the watchdog bounds the wait.
    if (JvmSettledEvent != NULL)
        WaitForSingleObject(JvmSettledEvent, SERVICE_STOP_TIMEOUT);
    // Without a JVM (its start failed, or the program ended and it was released) the worker ends the
    // service by itself. A stop that failed has been reported; the program then runs on until the
    // watchdog ends the service, whose outcome stays the program's own, never the stop's.
    if (ServiceStopsByExit())
        StopJvmWithExit();
    else
        RunMainWithSetting(LauncherSettings.ServiceStopArgs, true);
    return 0;
}

DWORD WINAPI ServiceStopWatchdog(LPVOID unused)
{
    (void)unused;
    Sleep(SERVICE_STOP_TIMEOUT);
    LaunchLog("service stop timed out: the service ends without waiting for the program");
    ShowError(LauncherSettings.MsgServiceStopTimeout, ServiceLabel());
    SetEvent(ServiceDoneEvent);
    return 0;
}
