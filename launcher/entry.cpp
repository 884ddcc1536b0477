#include "entry.h"

#include "arguments.h"
#include "console.h"
#include "embedded.h"
#include "format.h"
#include "jvm.h"
#include "machine_text.h"
#include "report.h"
#include "service.h"
#include "settings.h"
#include "settings_table.h"
#include "splash.h"

#include <stdlib.h>
#include <string.h>

WCHAR StartDirectory[MAX_PATH + 1];
HANDLE SingleInstanceMutex = NULL;

// Reports a file-access failure before the settings are loaded: the message comes straight from the
// string table, and the last error is kept for the reason across that read.
static void ReportEarlyFileAccess(DWORD error, const char* argument)
{
    char* format = LoadMessageText(SETTING_ID_FILE_ACCESS);
    SetLastError(error);
    ShowErrorWithReason(format, argument);
    FreeSettingText(format);
}

bool SaveStartDirectory()
{
    DWORD length = GetCurrentDirectoryW(MAX_PATH + 1, StartDirectory);
    if (length == 0 || length > MAX_PATH) {
        // A directory longer than the buffer is reported as too long, never used cut.
        ReportEarlyFileAccess(length == 0 ? GetLastError() : ERROR_FILENAME_EXCED_RANGE, "CURRENT_DIR");
        StartDirectory[0] = 0;
        return false;
    }
    return true;
}

bool EnterExecutableDirectory()
{
    WCHAR folder[MAX_PATH];
    DWORD length = GetModuleFileNameW(NULL, folder, MAX_PATH);
    // The name is cut when it fills the buffer: such a name is not used.
    if (length == 0 || length >= MAX_PATH) {
        ReportEarlyFileAccess(length == 0 ? GetLastError() : ERROR_INSUFFICIENT_BUFFER, "CURRENT_EXE");
        return false;
    }
    WCHAR* slash = wcsrchr(folder, '\\');
    if (slash != NULL) {
        // A drive root keeps its backslash: "C:" alone would mean the drive's current directory.
        if (slash == folder + 2 && folder[1] == ':')
            slash[1] = 0;
        else
            *slash = 0;
    }
    if (!SetCurrentDirectoryW(folder)) {
        DWORD error = GetLastError();
        char described[1024];
        DescribeWideText(folder, described, sizeof(described));
        ReportEarlyFileAccess(error, described);
        return false;
    }
    return true;
}

// Installs the service unless it is installed already; false after reporting why it was not.
static bool InstallServiceSwitch()
{
    switch (QueryServiceInstalled(LauncherSettings.ServiceName)) {
    case 1:
        ShowError(LauncherSettings.MsgServiceAlreadyInstalled, LauncherSettings.ServiceName);
        return false;
    case 0:
        if (InstallService(LauncherSettings.ServiceName, LauncherSettings.ServiceDescription) != 0)
            return false;
        ShowNotice(LauncherSettings.MsgServiceInstalled, LauncherSettings.ServiceName);
        return true;
    default:
        // The service manager could not be asked (no rights, for one): its reason is the last error.
        ShowLastError();
        return false;
    }
}

// True when the argument is the switch (a setting, in the ANSI code page).
static bool IsSwitch(const WCHAR* argument, const char* switchText)
{
    WCHAR* wide = WidenText(switchText);
    bool same = wide != NULL && wcscmp(argument, wide) == 0;
    free(wide);
    return same;
}

bool DispatchServiceSwitch(int argc, WCHAR** argv, int* exitCode)
{
    if (argc != 2)
        return false;
    const WCHAR* token = argv[1];
    *exitCode = 0;
    if (IsSwitch(token, LauncherSettings.InstallSwitch)) {
        if (!InstallServiceSwitch())
            *exitCode = 1;
    } else if (IsSwitch(token, LauncherSettings.UninstallSwitch)) {
        if (UninstallService(LauncherSettings.ServiceName) == 0)
            ShowNotice(LauncherSettings.MsgServiceUninstalled, LauncherSettings.ServiceName);
        else
            *exitCode = 1;
    } else if (IsSwitch(token, LauncherSettings.ServiceSwitch)) {
        RunServiceDispatcher();
    } else {
        return false;
    }
    return true;
}

// When the only argument is the service switch of a launcher with a service name, the service control
// manager started this process and nobody can see a window of it: every report goes to the event log,
// from the first one on (the settings are not loaded yet).
static void ReportToEventLogIfStartedAsService(int argc, WCHAR** argv)
{
    if (argc != 2)
        return;
    char* name = LoadSettingText(NULL, FindSettingByField("ServiceName")->Id);
    char* serviceSwitch = LoadSettingText(NULL, FindSettingByField("ServiceSwitch")->Id);
    if (name[0] != 0 && IsSwitch(argv[1], serviceSwitch))
        EnterServiceReporting(name);
    FreeSettingText(name);
    FreeSettingText(serviceSwitch);
}

bool TakeSingleInstanceGuard()
{
    // Creating is the test: of two launches at the same moment exactly one creates the mutex.
    HANDLE mutex = CreateMutexA(NULL, TRUE, LauncherSettings.MainClass);
    DWORD error = GetLastError();
    if (mutex != NULL && error == ERROR_ALREADY_EXISTS) {
        CloseHandle(mutex);
        ShowError(LauncherSettings.MsgAlreadyRunning);
        return false;
    }
    // A name the system refuses (a mutex cannot be made) guards nothing, as before.
    SingleInstanceMutex = mutex;
    return true;
}

// The interactive run: guard, splash, JVM, main class. The process exit code.
static int RunInteractive(int argc, WCHAR** argv)
{
    // A command-line tool that could not run fails, so that "tool && next" stops.
    if (!LauncherSettings.AllowMultipleInstances && !TakeSingleInstanceGuard())
        return RunMode == RUN_MODE_CONSOLE ? -1 : 0;
    if (SplashScreenWanted())
        StartSplashScreen();
    if (!StartJvm(false))
        return -1;
    bool ok = RunMainClass(argc - 1, argv + 1, false);
    ReleaseJvm();
    if (SingleInstanceMutex != NULL) {
        CloseHandle(SingleInstanceMutex);
        SingleInstanceMutex = NULL;
    }
    return ok ? 0 : -1;
}

const WCHAR* SkipProgramName(const WCHAR* commandLine)
{
    const WCHAR* p = commandLine;
    bool inQuotes = false;
    // The name ends at the first blank or control character outside double quotes.
    for (; *p > ' ' || (*p != 0 && inQuotes); p++)
        if (*p == '"')
            inQuotes = !inQuotes;
    while (*p != 0 && *p <= ' ')
        p++;
    return p;
}

int RunLauncher(HINSTANCE instance, const WCHAR* commandLine)
{
    InstanceHandle = instance;
    SetThreadLocale(GetSystemDefaultLCID());
    RunMode = RUN_MODE_GUI;
    int argc;
    WCHAR** argv;
    SplitArguments(commandLine, &argc, &argv, true);
    if (argc == 0) {
        // Memory ran out while splitting: run without arguments rather than not at all.
        static WCHAR* noArguments[1] = {NULL};
        argc = 1;
        argv = noArguments;
    }
    if (argc == 3 && wcscmp(argv[1], CLEANUP_SWITCH_WIDE) == 0) {
        RunCleanupChild((unsigned long)_wtoi(argv[2]));
        return 0;
    }
    ReportToEventLogIfStartedAsService(argc, argv);
    EnterConsoleMode();
    if (!SaveStartDirectory())  // a command-line tool that did not run fails, as below
        return RunMode == RUN_MODE_CONSOLE ? -1 : 0;
    EnterExecutableDirectory();
    LoadLauncherSettings();
    int exitCode = 0;
    if (LauncherSettings.ServiceName[0] != 0 && DispatchServiceSwitch(argc, argv, &exitCode))
        return exitCode;
    return RunInteractive(argc, argv);
}
