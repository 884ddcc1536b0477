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

// Creates the service record, with its description when one is given; false with the last error set.
static bool CreateServiceRecord(SC_HANDLE manager, const char* name, const char* commandLine,
                                const char* description)
{
    char* dependencies = NULL;
    if (LauncherSettings.ServiceDependencies[0] != 0) {
        dependencies = BuildDependencyList(LauncherSettings.ServiceDependencies);
        if (dependencies == NULL) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return false;
        }
    }
    DWORD type = SERVICE_WIN32_OWN_PROCESS;
    if (LauncherSettings.ServiceInteractive)
        type |= SERVICE_INTERACTIVE_PROCESS;
    DWORD start = LauncherSettings.ServiceDemandStart ? SERVICE_DEMAND_START : SERVICE_AUTO_START;
    SC_HANDLE service = CreateServiceA(manager, name, name, SERVICE_ALL_ACCESS, type, start, SERVICE_ERROR_NORMAL,
                                       commandLine, NULL, NULL, dependencies, NULL, NULL);
    DWORD error = GetLastError();
    free(dependencies);
    if (service == NULL) {
        SetLastError(error);
        return false;
    }
    // Through the service manager, which stores it as it reads it back.
    SERVICE_DESCRIPTIONA text = {(char*)description};
    bool done = description[0] == 0 || ChangeServiceConfig2A(service, SERVICE_CONFIG_DESCRIPTION, &text);
    error = GetLastError();
    if (!done)
        DeleteService(service);
    CloseServiceHandle(service);
    SetLastError(error);
    return done;
}

int InstallService(const char* name, const char* description)
{
    char exePath[260];
    char commandLine[1024]; // a command line that does not fit: refused with ERROR_INSUFFICIENT_BUFFER
    bool done = false;
    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_CREATE_SERVICE);
    if (manager == NULL)
        goto failed;
    if (!GetServiceCommandLine(exePath, sizeof(exePath), commandLine, sizeof(commandLine)) ||
        !CreateServiceRecord(manager, name, commandLine, description))
        goto failed;
    CloseServiceHandle(manager);
    manager = NULL;
    done = WriteEventSourceKey(name, exePath);
failed:
    if (!done)
        ShowLastError();
    if (manager != NULL)
        CloseServiceHandle(manager);
    return done ? 0 : -1;
}

int UninstallService(const char* name)
{
    SC_HANDLE service = NULL;
    bool done = false;
    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_ALL_ACCESS);
    if (manager != NULL)
        service = OpenServiceA(manager, name, DELETE);
    if (service != NULL)
        done = DeleteService(service) != 0;
    if (!done)
        ShowLastError();
    if (service != NULL)
        CloseServiceHandle(service);
    if (manager != NULL)
        CloseServiceHandle(manager);
    return done ? 0 : -1;
}
