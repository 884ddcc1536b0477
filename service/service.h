// The Windows service: installing and removing it, and running under the service control manager.
#pragma once

/* service.cpp */

// 1 when the service is installed, 0 when it is not, -1 when that cannot be told.
int QueryServiceInstalled(const char* name);
// Installs the service; 0 on success, -1 after the failure has been reported.
int InstallService(const char* name, const char* description);
// Removes the service; 0 on success, -1 after the failure has been reported.
int UninstallService(const char* name);
// Switches reports to the event log and runs the service until it has ended.
void RunServiceDispatcher();
