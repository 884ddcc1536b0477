#include "service.h"

#include "report.h"

HANDLE ServiceDoneEvent = NULL;
volatile LONG ServiceRunOk = 0;
volatile LONG ServiceStopReported = 0;

int QueryServiceInstalled(const char* name)
{
    (void)name;
    ShowError("Installing the service is not available in this build of the launcher.");
    return -1;
}

int InstallService(const char* name, const char* description)
{
    (void)name;
    (void)description;
    ShowError("Installing the service is not available in this build of the launcher.");
    return -1;
}

int UninstallService(const char* name)
{
    (void)name;
    ShowError("Removing the service is not available in this build of the launcher.");
    return -1;
}

void RunServiceDispatcher()
{
    RunMode = RUN_MODE_SERVICE;
    ShowError("Running as a service is not available in this build of the launcher.");
}
