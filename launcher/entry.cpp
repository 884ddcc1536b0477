#include "entry.h"

#include "arguments.h"
#include "console.h"
#include "embedded.h"
#include "format.h"
#include "handover.h"
#include "jvm.h"
#include "launch_log.h"
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
    // The name is cut when it fills the buffer: such a name is not used. A longer folder could not be
    // made current anyway (without long paths enabled machine-wide), nor named to the runtime.
    if (length == 0 || length >= MAX_PATH) {
        ReportEarlyFileAccess(length == 0 ? GetLastError() : ERROR_FILENAME_EXCED_RANGE, "CURRENT_EXE");
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

// True when the argument is the switch (a setting, in the ANSI code page).
static bool IsSwitch(const WCHAR* argument, const char* switchText)
{
    WCHAR* wide = WidenText(switchText);
    bool same = wide != NULL && wcscmp(argument, wide) == 0;
    free(wide);
    return same;
}

// The option after the install or uninstall switch that makes it run without any window.
#define QUIET_OPTION L"-quiet"

enum ServiceRequest { SERVICE_REQUEST_NONE, SERVICE_REQUEST_INSTALL, SERVICE_REQUEST_UNINSTALL, SERVICE_REQUEST_RUN };

// argc without the empty arguments at the end: a shell that takes redirections out of a command line
// ("-install -quiet -password-stdin <in.txt 2>err.txt") leaves their blanks, which make empty arguments.
static int CountRequestArguments(int argc, WCHAR** argv)
{
    while (argc > 2 && argv[argc - 1][0] == 0)
        argc--;
    return argc;
}

// What the command line asks of the service switches (argc counts slot 0): a switch alone, or the
// install or uninstall switch followed by the quiet option, and after the install switch possibly a
// password: a request with more than the switch is a quiet one. Anything else is no request: the
// arguments go to the program.
static ServiceRequest ReadServiceRequest(int argc, WCHAR** argv, const char* installSwitch,
                                         const char* uninstallSwitch, const char* serviceSwitch)
{
    if (argc < 2 || argc > 4 || (argc > 2 && wcscmp(argv[2], QUIET_OPTION) != 0))
        return SERVICE_REQUEST_NONE;
    if (IsSwitch(argv[1], installSwitch))
        return SERVICE_REQUEST_INSTALL;
    if (IsSwitch(argv[1], uninstallSwitch) && argc < 4)
        return SERVICE_REQUEST_UNINSTALL;
    if (IsSwitch(argv[1], serviceSwitch) && argc == 2)
        return SERVICE_REQUEST_RUN;
    return SERVICE_REQUEST_NONE;
}

// Installs the service unless it is installed already; false after reporting why it was not.
static bool InstallServiceSwitch(const char* password)
{
    switch (QueryServiceInstalled(LauncherSettings.ServiceName)) {
    case 1:
        ShowError(LauncherSettings.MsgServiceAlreadyInstalled, ServiceLabel());
        return false;
    case 0:
        if (InstallService(LauncherSettings.ServiceName, LauncherSettings.ServiceDescription, password) != 0)
            return false;
        ShowNotice(LauncherSettings.MsgServiceInstalled, ServiceLabel());
        return true;
    default:
        // The service manager could not be asked (no rights, a name it refuses): its reason is the last error.
        ShowErrorWithReason(LauncherSettings.MsgServiceInstallFailed, ServiceLabel());
        return false;
    }
}

// Removes the service; false after reporting why it was not. A service that still runs is marked for
// deletion, and the notice says so in the system's words.
static bool UninstallServiceSwitch()
{
    int result = UninstallService(LauncherSettings.ServiceName);
    if (result < 0)
        return false;
    if (result == 0) {
        ShowNotice(LauncherSettings.MsgServiceUninstalled, ServiceLabel());
        return true;
    }
    // The message is formatted first: one without %s must not take the system's words for the name.
    char marked[512];
    GetSystemErrorText(ERROR_SERVICE_MARKED_FOR_DELETE, marked, sizeof(marked));
    char message[REPORT_TEXT_SIZE]; // a message too long for it is shown cut, before the system's words
    if (!FormatText(message, sizeof(message), LauncherSettings.MsgServiceUninstalled, ServiceLabel()))
        MarkTextCut(message, sizeof(message));
    ShowNotice("%s\n\n%s", message, marked);
    return true;
}

// Installs the service with the password given on the command line (null: none), which the service
// manager takes in the ANSI code page; no copy of it outlives the call, and no report shows it.
static bool InstallWithPassword(WCHAR* password)
{
    char* narrow = password != NULL ? NarrowExactly(password) : NULL;
    bool installed = false;
    if (password != NULL && narrow == NULL) {
        SetLastError(ERROR_NO_UNICODE_TRANSLATION);
        ShowLastError();
    } else {
        installed = InstallServiceSwitch(narrow);
    }
    if (narrow != NULL) {
        SecureZeroMemory(narrow, strlen(narrow));
        free(narrow);
    }
    if (password != NULL)
        SecureZeroMemory(password, wcslen(password) * sizeof(WCHAR));
    return installed;
}

// The option after the quiet option of the install switch that reads the password from standard input.
#define PASSWORD_INPUT_OPTION L"-password-stdin"

// Installs the service with the password read from standard input, which no other process sees on
// this one's command line; the launcher's copy is wiped after use.
static bool InstallWithInputPassword()
{
    char* password = ReadInputPassword();
    if (password == NULL) {
        ShowErrorWithReason("The password could not be read from standard input.");
        return false;
    }
    bool installed = InstallServiceSwitch(password);
    SecureZeroMemory(password, strlen(password));
    free(password);
    return installed;
}

bool DispatchServiceSwitch(int argc, WCHAR** argv, int* exitCode)
{
    // Where reports go was chosen at the start, from the same request (ChooseEarlyReporting).
    argc = CountRequestArguments(argc, argv);
    ServiceRequest request = ReadServiceRequest(argc, argv, LauncherSettings.InstallSwitch,
                                                LauncherSettings.UninstallSwitch, LauncherSettings.ServiceSwitch);
    if (request == SERVICE_REQUEST_NONE)
        return false;
    *exitCode = 0;
    if (request == SERVICE_REQUEST_INSTALL) {
        bool fromInput = argc == 4 && wcscmp(argv[3], PASSWORD_INPUT_OPTION) == 0;
        if (!(fromInput ? InstallWithInputPassword() : InstallWithPassword(argc == 4 ? argv[3] : NULL)))
            *exitCode = 1;
    } else if (request == SERVICE_REQUEST_UNINSTALL) {
        if (!UninstallServiceSwitch())
            *exitCode = 1;
    } else if (RunServiceDispatcher()) {
        // The service has ended, whether its program returned, was stopped or called System.exit.
        StartCleanupChild();
    } else {
        *exitCode = 1;
    }
    return true;
}

// When the command line is the service switch of a launcher with a service name, the service control
// manager started this process and nobody can see a window of it: every report goes to the event log,
// from the first one on (the settings are not loaded yet). A quiet install or removal likewise shows
// no window from the first report on.
static void ChooseEarlyReporting(int argc, WCHAR** argv)
{
    char* name = LoadSettingText(NULL, FindSettingByField("ServiceName")->Id);
    char* install = LoadSettingText(NULL, FindSettingByField("InstallSwitch")->Id);
    char* uninstall = LoadSettingText(NULL, FindSettingByField("UninstallSwitch")->Id);
    char* serviceSwitch = LoadSettingText(NULL, FindSettingByField("ServiceSwitch")->Id);
    argc = CountRequestArguments(argc, argv);
    ServiceRequest request = ReadServiceRequest(argc, argv, install, uninstall, serviceSwitch);
    if (name[0] != 0 && request == SERVICE_REQUEST_RUN)
        EnterServiceReporting(name, RUN_MODE_SERVICE);
    else if (name[0] != 0 && request != SERVICE_REQUEST_NONE && argc > 2)
        EnterServiceReporting(name, RUN_MODE_QUIET);
    FreeSettingText(name);
    FreeSettingText(install);
    FreeSettingText(uninstall);
    FreeSettingText(serviceSwitch);
}

// Creates the single-instance mutex; true when this process holds it now.
static bool CreateGuardMutex(const char* name)
{
    // Creating is the test: of two launches at the same moment exactly one creates the mutex.
    HANDLE mutex = CreateMutexA(NULL, TRUE, name);
    DWORD error = GetLastError();
    if (mutex != NULL && error == ERROR_ALREADY_EXISTS) {
        CloseHandle(mutex);
        return false;
    }
    // A name the system refuses (a mutex cannot be made) guards nothing, as before.
    SingleInstanceMutex = mutex;
    return true;
}

bool TakeSingleInstanceGuard(int argc, WCHAR** argv, int* exitCode)
{
    // The application's name, as its extraction folder has it; one that does not fit guards nothing.
    char name[MAX_PATH];
    if (!MakeApplicationName(name, sizeof(name), LauncherSettings.ApplicationId, LauncherSettings.MainClass))
        return true;
    SecondStartMode mode = ReadSecondStartMode();
    DWORD deadline = GetTickCount() + HANDOVER_WAIT_MS;
    // A running instance that is still starting has no pipe yet, one that is ending has none any more:
    // the mutex and the pipe are tried in turn until one of them answers or the time is up.
    for (;;) {
        if (CreateGuardMutex(name)) {
            if (mode != SECOND_START_REFUSE)
                StartHandoverServer(name, mode);
            return true;
        }
        // A command-line tool that could not run fails, so that "tool && next" stops.
        *exitCode = RunMode == RUN_MODE_CONSOLE ? -1 : 0;
        if (mode == SECOND_START_REFUSE) {
            ShowError(LauncherSettings.MsgAlreadyRunning);
            return false;
        }
        int handed = HandOverToFirstInstance(name, argc, argv, deadline);
        if (handed == 0 && (LONG)(deadline - GetTickCount()) <= 0) {
            ShowError(LauncherSettings.MsgInstanceNotAnswering);
            handed = -1;
        }
        if (handed != 0) {
            *exitCode = handed > 0 ? 0 : -1;
            return false;
        }
        Sleep(50);
    }
}

// The interactive run: guard, splash, JVM, main class. The process exit code.
static int RunInteractive(int argc, WCHAR** argv)
{
    int exitCode = 0;
    if (!LauncherSettings.AllowMultipleInstances && !TakeSingleInstanceGuard(argc, argv, &exitCode))
        return exitCode;
    if (SplashScreenWanted())
        StartSplashScreen();
    if (!StartJvm(false))
        return -1;
    bool ok = RunMainClass(argc - 1, argv + 1, false);
    ReleaseJvm();
    // A return from main ends the JVM as System.exit does: the extracted files go too.
    StartCleanupChild();
    if (SingleInstanceMutex != NULL) {
        CloseHandle(SingleInstanceMutex);
        SingleInstanceMutex = NULL;
    }
    // A console program whose main threw ends with 1, as the runtime's own launcher does.
    return ok ? 0 : (RunMode == RUN_MODE_CONSOLE && MainThrew ? 1 : -1);
}

const WCHAR* SkipProgramName(const WCHAR* commandLine)
{
    // As the C runtime reads argv[0]: a name that begins with a double quote runs to the next one
    // (what follows that quote starts the first argument), any other to the first blank or tab.
    const WCHAR* p = commandLine;
    if (*p == '"') {
        for (p++; *p != 0 && *p != '"'; p++) {
        }
        if (*p == '"')
            p++;
    } else {
        while (*p != 0 && *p != ' ' && *p != '\t')
            p++;
    }
    while (*p == ' ' || *p == '\t')
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
    SplitCommandLine(commandLine, &argc, &argv, true);
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
    StartLaunchLog(argc);
    AwaitRestartedPredecessor();
    ChooseEarlyReporting(argc, argv);
    EnterConsoleMode();
    // Without its own folder the launcher would resolve its relative paths against the caller's: it
    // stops. A command-line tool that did not run fails, as below.
    if (!SaveStartDirectory() || !EnterExecutableDirectory())
        return RunMode == RUN_MODE_CONSOLE ? -1 : 0;
    LoadLauncherSettings();
    int exitCode = 0;
    if (LauncherSettings.ServiceName[0] != 0 && DispatchServiceSwitch(argc, argv, &exitCode))
        return exitCode;
    return RunInteractive(argc, argv);
}

unsigned long long ProcessAge()
{
    FILETIME created, ended, kernel, user, now;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &ended, &kernel, &user))
        return 0;
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER from = {{created.dwLowDateTime, created.dwHighDateTime}};
    ULARGE_INTEGER to = {{now.dwLowDateTime, now.dwHighDateTime}};
    return to.QuadPart > from.QuadPart ? to.QuadPart - from.QuadPart : 0;
}
