// Helpers of the service tests: launchers made with the builder, the service control manager seen
// through its API, and the event-log lines that Wine prints on the session's standard error.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// One event-log entry as Wine printed it.
struct EventLine {
    std::string Type;  // "err" for errors, "trace" for information
    std::string Text;  // the insertion string, unescaped
};

// The folder of the service tests' Wine session, as a Windows path.
std::string SessionFolder();
// The jvm.dll double's trace file of the session (every service process writes to it).
std::string TraceFile();
// The whole text of a file; "" when it cannot be read.
std::string ReadWholeFile(const std::string& path);
// Writes text to a file; false on failure.
bool WriteWholeFile(const std::string& path, const std::string& text);
// Builds folder\exeName from a config text with the builder; "" on failure (the reason in *error).
std::string BuildLauncher(const std::string& folder, const std::string& exeName, const std::string& config,
                          std::string* error);

// The current length of the session's standard error, from where new event lines are read.
size_t EventLogMark();
// The event-log lines printed since mark, in order.
std::vector<EventLine> EventsSince(size_t mark);
// Waits until an event line with exactly this text appeared after mark; false on timeout.
bool WaitForEvent(size_t mark, const std::string& text, DWORD timeoutMs);
// The lines, one per line, for a failure message.
std::string DescribeEvents(const std::vector<EventLine>& events);

// The status of a service; false when it cannot be queried.
bool QueryStatus(const std::string& name, SERVICE_STATUS_PROCESS* status);
// Waits until the service reports state; false on timeout.
bool WaitForState(const std::string& name, DWORD state, DWORD timeoutMs, SERVICE_STATUS_PROCESS* status);
// Starts the service; 0 on success, else the system's error code.
DWORD StartNamedService(const std::string& name);
// Sends a control; the status returned by the service control manager goes to *status. 0 or the error.
DWORD ControlNamedService(const std::string& name, DWORD control, SERVICE_STATUS* status);
// Deletes the service when it exists (what an interrupted earlier run left behind).
void DeleteServiceIfPresent(const std::string& name);
// The service's configuration (types, binary path, names) as one comparable text; "" if none. Wine's
// QueryServiceConfig leaves the dependencies out: they are read from the registry instead.
std::string DescribeServiceConfig(const std::string& name);
