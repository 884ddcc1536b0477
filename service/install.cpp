// Installing and removing the service: the service control manager's record and the event-log source.
#include "service.h"

#include "format.h"
#include "machine_text.h"
#include "report.h"
#include "settings.h"

#include <stdlib.h>
#include <string.h>

#define EVENT_SOURCE_KEY "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\"
// Error, warning and information events.
#define EVENT_TYPES_SUPPORTED 7
// The most restarts the failure actions hold; the builder refuses more.
#define SERVICE_RESTART_MAX 100
// Longest password line read from standard input, in bytes (the system takes 256 characters at most).
#define INPUT_PASSWORD_MAX 1024

int QueryServiceInstalled(const char* name)
{
    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_CREATE_SERVICE);
    if (manager == NULL)
        return -1;
    int installed = 1;
    SC_HANDLE service = OpenServiceA(manager, name, SERVICE_QUERY_CONFIG);
    DWORD error = GetLastError();
    if (service != NULL)
        CloseServiceHandle(service);
    else
        installed = error == ERROR_SERVICE_DOES_NOT_EXIST ? 0 : -1;
    CloseServiceHandle(manager);
    // The caller reports why it could not be told.
    SetLastError(error);
    return installed;
}

char* BuildDependencyList(const char* text)
{
    size_t length = strlen(text);
    char* list = (char*)calloc(length + 2, 1);
    if (list == NULL)
        return NULL;
    for (size_t i = 0; i < length; i++)
        list[i] = text[i] == ';' ? 0 : text[i];
    return list;
}

// Registers the executable as the message file of the event-log source named after the service.
static bool WriteEventSourceKey(const char* name, const char* exePath)
{
    char key[512]; // a service name too long for a registry key name: refused with ERROR_INVALID_NAME
    if (!FormatText(key, sizeof(key), EVENT_SOURCE_KEY "%s", name)) {
        SetLastError(ERROR_INVALID_NAME);
        return false;
    }
    return RegistryCreateKey(HKEY_LOCAL_MACHINE, key) == 0 &&
           RegistryWriteExpandString(HKEY_LOCAL_MACHINE, key, "EventMessageFile", exePath) == 0 &&
           RegistryWriteDword(HKEY_LOCAL_MACHINE, key, "TypesSupported", EVENT_TYPES_SUPPORTED) == 0;
}

// The running executable's path and the service command line "\"path\" switch"; false with the last
// error set when either does not fit.
static bool GetServiceCommandLine(char* exePath, DWORD exeSize, char* commandLine, size_t commandSize)
{
    WCHAR widePath[MAX_PATH];
    DWORD length = GetModuleFileNameW(NULL, widePath, MAX_PATH);
    if (length == 0)
        return false;
    // A path cut to the buffer's size comes back with the full size as its length. One the ANSI code
    // page cannot carry is registered by its short name.
    char* path = length < MAX_PATH ? MakeAnsiPath(widePath) : NULL;
    bool fits = path != NULL && CopyText(exePath, exeSize, path);
    bool noAnsiName = length < MAX_PATH && path == NULL;
    free(path);
    if (!fits || !FormatText(commandLine, commandSize, "\"%s\" %s", exePath, LauncherSettings.ServiceSwitch)) {
        SetLastError(noAnsiName ? ERROR_NO_UNICODE_TRANSLATION : ERROR_INSUFFICIENT_BUFFER);
        return false;
    }
    return true;
}

// The account CreateServiceA takes for ServiceAccount: null for LocalSystem (also when empty), the
// full names of the two built-in service accounts, any other name as it is.
static const char* ServiceAccountName()
{
    const char* account = LauncherSettings.ServiceAccount;
    if (account[0] == 0 || _stricmp(account, "LocalSystem") == 0)
        return NULL;
    if (_stricmp(account, "LocalService") == 0)
        return "NT AUTHORITY\\LocalService";
    if (_stricmp(account, "NetworkService") == 0)
        return "NT AUTHORITY\\NetworkService";
    return account;
}

// Creates the service record; its handle, or null with the last error set.
static SC_HANDLE CreateServiceRecord(SC_HANDLE manager, const char* name, const char* commandLine,
                                     const char* password)
{
    char* dependencies = NULL;
    if (LauncherSettings.ServiceDependencies[0] != 0) {
        dependencies = BuildDependencyList(LauncherSettings.ServiceDependencies);
        if (dependencies == NULL) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return NULL;
        }
    }
    DWORD type = SERVICE_WIN32_OWN_PROCESS;
    if (LauncherSettings.ServiceInteractive)
        type |= SERVICE_INTERACTIVE_PROCESS;
    DWORD start = LauncherSettings.ServiceDemandStart ? SERVICE_DEMAND_START : SERVICE_AUTO_START;
    const char* display = LauncherSettings.ServiceDisplayName[0] != 0 ? LauncherSettings.ServiceDisplayName : name;
    const char* account = ServiceAccountName();
    // A password belongs to a named account only; the built-in accounts take none.
    SC_HANDLE service = CreateServiceA(manager, name, display, SERVICE_ALL_ACCESS, type, start, SERVICE_ERROR_NORMAL,
                                       commandLine, NULL, NULL, dependencies, account, account ? password : NULL);
    DWORD error = GetLastError();
    free(dependencies);
    SetLastError(error);
    return service;
}

// The service manager's failure actions: ServiceRestartCount restarts, each ServiceRestartSeconds after
// the failure, then none until ServiceRestartResetSeconds pass without one (the manager repeats the
// last action for every later failure). False with the last error set.
static bool ConfigureRestarts(SC_HANDLE service)
{
    SC_ACTION actions[SERVICE_RESTART_MAX + 1];
    int count = LauncherSettings.ServiceRestartCount;
    if (count <= 0)
        return true;
    if (count > SERVICE_RESTART_MAX)
        count = SERVICE_RESTART_MAX;
    // Out-of-range times, which the builder refuses, are taken as the nearest the manager can hold.
    int seconds = LauncherSettings.ServiceRestartSeconds;
    DWORD delay = seconds <= 0 ? 0 : (DWORD)seconds > MAXDWORD / 1000 ? MAXDWORD / 1000 * 1000 : (DWORD)seconds * 1000;
    for (int i = 0; i < count; i++)
        actions[i] = {SC_ACTION_RESTART, delay};
    actions[count] = {SC_ACTION_NONE, 0};
    int reset = LauncherSettings.ServiceRestartResetSeconds;
    SERVICE_FAILURE_ACTIONSA failure = {reset < 0 ? 0 : (DWORD)reset, NULL, NULL, (DWORD)count + 1, actions};
    return ChangeServiceConfig2A(service, SERVICE_CONFIG_FAILURE_ACTIONS, &failure) != 0;
}

// The settings the service manager takes after creation: the description (through the manager, which
// stores it as it reads it back), delayed start, failure actions. False with the last error set.
static bool ConfigureService(SC_HANDLE service, const char* description)
{
    SERVICE_DESCRIPTIONA text = {(char*)description};
    SERVICE_DELAYED_AUTO_START_INFO delayed = {TRUE};
    SERVICE_FAILURE_ACTIONS_FLAG exitIsFailure = {TRUE};
    // The two levels without text go through the W call: the A call of some systems (Wine's) knows
    // only the levels it has text to convert for.
    return (description[0] == 0 || ChangeServiceConfig2A(service, SERVICE_CONFIG_DESCRIPTION, &text)) &&
           (!LauncherSettings.ServiceDelayedStart ||
            ChangeServiceConfig2W(service, SERVICE_CONFIG_DELAYED_AUTO_START_INFO, &delayed)) &&
           ConfigureRestarts(service) &&
           (!LauncherSettings.ServiceExitIsFailure ||
            ChangeServiceConfig2W(service, SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, &exitIsFailure));
}

int InstallService(const char* name, const char* description, const char* password)
{
    char exePath[260];
    char commandLine[1024]; // a command line that does not fit: refused with ERROR_INSUFFICIENT_BUFFER
    bool done = false;
    SC_HANDLE service = NULL;
    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_CREATE_SERVICE);
    if (manager == NULL || !GetServiceCommandLine(exePath, sizeof(exePath), commandLine, sizeof(commandLine)))
        goto failed;
    service = CreateServiceRecord(manager, name, commandLine, password);
    done = service != NULL && ConfigureService(service, description) && WriteEventSourceKey(name, exePath);
failed:
    if (!done) {
        // Nothing stays half-installed: a service whose configuration failed is deleted again.
        DWORD error = GetLastError();
        if (service != NULL)
            DeleteService(service);
        SetLastError(error);
        ShowErrorWithReason(LauncherSettings.MsgServiceInstallFailed, ServiceLabel());
    }
    if (service != NULL)
        CloseServiceHandle(service);
    if (manager != NULL)
        CloseServiceHandle(manager);
    return done ? 0 : -1;
}

int UninstallService(const char* name)
{
    SC_HANDLE service = NULL;
    bool done = false;
    SERVICE_STATUS status = {};
    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_ALL_ACCESS);
    if (manager != NULL)
        service = OpenServiceA(manager, name, DELETE | SERVICE_QUERY_STATUS);
    if (service != NULL)
        done = DeleteService(service) != 0;
    if (!done)
        ShowErrorWithReason(LauncherSettings.MsgServiceUninstallFailed, ServiceLabel());
    // A service that still runs is only marked for deletion: the manager removes it when it stops.
    bool running = done && QueryServiceStatus(service, &status) && status.dwCurrentState != SERVICE_STOPPED;
    if (service != NULL)
        CloseServiceHandle(service);
    if (manager != NULL)
        CloseServiceHandle(manager);
    return !done ? -1 : running ? 1 : 0;
}

// Reads into line (room for INPUT_PASSWORD_MAX + 1 bytes) until a line end, the end of the input or a
// full buffer; the number of bytes read, or -1 with the last error set when a read fails.
static int ReadInputLine(HANDLE input, char* line)
{
    DWORD length = 0, read = 0;
    while (length <= INPUT_PASSWORD_MAX && memchr(line, '\n', length) == NULL) {
        if (!ReadFile(input, line + length, INPUT_PASSWORD_MAX + 1 - length, &read, NULL))
            return GetLastError() == ERROR_BROKEN_PIPE ? (int)length : -1;
        if (read == 0)
            break;
        length += read;
    }
    return (int)length;
}

char* ReadInputPassword()
{
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    if (input == NULL || input == INVALID_HANDLE_VALUE) {
        SetLastError(ERROR_INVALID_HANDLE);
        return NULL;
    }
    char* line = (char*)malloc(INPUT_PASSWORD_MAX + 1);
    if (line == NULL) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return NULL;
    }
    // Typed at a console, the password is not shown.
    DWORD mode = 0;
    bool console = GetConsoleMode(input, &mode) && SetConsoleMode(input, mode & ~ENABLE_ECHO_INPUT);
    int length = ReadInputLine(input, line);
    DWORD error = GetLastError();
    if (console)
        SetConsoleMode(input, mode);
    char* end = length > 0 ? (char*)memchr(line, '\n', (size_t)length) : NULL;
    if (end == NULL && length > 0 && length <= INPUT_PASSWORD_MAX)
        end = line + length; // the last line, without a line end
    if (end == NULL) {
        // No input, a failed read, or a line that does not fit: refused, never cut.
        SecureZeroMemory(line, INPUT_PASSWORD_MAX + 1);
        free(line);
        SetLastError(length < 0 ? error : length == 0 ? ERROR_HANDLE_EOF : ERROR_INSUFFICIENT_BUFFER);
        return NULL;
    }
    if (end > line && end[-1] == '\r')
        end--;
    SecureZeroMemory(end, INPUT_PASSWORD_MAX + 1 - (size_t)(end - line));
    return line;
}
