#include "service_support.h"

#include "variant.h"

#include <fstream>
#include <sstream>

std::string SessionFolder()
{
    return WindowsPath(KESTRUN_SERVICE_SESSION);
}

std::string TraceFile()
{
    return SessionFolder() + "\\jvm-trace.txt";
}

std::string ReadWholeFile(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

bool WriteWholeFile(const std::string& path, const std::string& text)
{
    std::ofstream file(path, std::ios::binary);
    file << text;
    return file.good();
}

std::string BuildLauncher(const std::string& folder, const std::string& exeName, const std::string& config,
                          std::string* error)
{
    std::string configPath = folder + "\\launcher.ini";
    std::string exePath = folder + "\\" + exeName;
    if (!WriteWholeFile(configPath, config)) {
        *error = "cannot write " + configPath;
        return "";
    }
    if (!RunBuilder(configPath, exePath, error)) {
        *error += "\nconfig:\n" + config;
        return "";
    }
    return exePath;
}

static std::string SessionErrorText()
{
    return ReadWholeFile(SessionFolder() + "\\session.err");
}

size_t EventLogMark()
{
    return SessionErrorText().size();
}

// Undoes Wine's escaping of a debug string: \n, \r, \t, \\ and \".
static std::string Unescape(const std::string& text)
{
    std::string plain;
    for (size_t i = 0; i < text.size(); i++) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            plain += text[i];
            continue;
        }
        char next = text[++i];
        plain += next == 'n' ? '\n' : next == 'r' ? '\r' : next == 't' ? '\t' : next;
    }
    return plain;
}

std::vector<EventLine> EventsSince(size_t mark)
{
    std::string all = SessionErrorText();
    std::istringstream lines(mark <= all.size() ? all.substr(mark) : "");
    std::vector<EventLine> events;
    const std::string marker = ":eventlog:ReportEventW L\"";
    for (std::string line; std::getline(lines, line);) {
        size_t at = line.find(marker);
        size_t typeStart = line.find(':');
        if (at == std::string::npos || typeStart == std::string::npos || typeStart >= at)
            continue;
        std::string text = line.substr(at + marker.size());
        if (!text.empty() && text.back() == '"')
            text.pop_back();
        events.push_back({line.substr(typeStart + 1, at - typeStart - 1), Unescape(text)});
    }
    return events;
}

bool WaitForEvent(size_t mark, const std::string& text, DWORD timeoutMs)
{
    for (DWORD start = GetTickCount();; Sleep(50)) {
        for (const EventLine& event : EventsSince(mark))
            if (event.Text == text)
                return true;
        if (GetTickCount() - start > timeoutMs)
            return false;
    }
}

std::string DescribeEvents(const std::vector<EventLine>& events)
{
    std::string text;
    for (const EventLine& event : events)
        text += event.Type + ": " + event.Text + "\n";
    return text;
}

// Opens a service with the given access; null when it cannot.
static SC_HANDLE OpenNamedService(const std::string& name, DWORD access)
{
    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_CONNECT);
    if (manager == NULL)
        return NULL;
    SC_HANDLE service = OpenServiceA(manager, name.c_str(), access);
    CloseServiceHandle(manager);
    return service;
}

bool QueryStatus(const std::string& name, SERVICE_STATUS_PROCESS* status)
{
    SC_HANDLE service = OpenNamedService(name, SERVICE_QUERY_STATUS);
    if (service == NULL)
        return false;
    DWORD needed = 0;
    BOOL ok = QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, (BYTE*)status, sizeof(*status), &needed);
    CloseServiceHandle(service);
    return ok != FALSE;
}

bool WaitForState(const std::string& name, DWORD state, DWORD timeoutMs, SERVICE_STATUS_PROCESS* status)
{
    for (DWORD start = GetTickCount();; Sleep(20)) {
        if (QueryStatus(name, status) && status->dwCurrentState == state)
            return true;
        if (GetTickCount() - start > timeoutMs)
            return false;
    }
}

DWORD StartNamedService(const std::string& name)
{
    SC_HANDLE service = OpenNamedService(name, SERVICE_START);
    if (service == NULL)
        return GetLastError();
    DWORD error = StartServiceA(service, 0, NULL) ? 0 : GetLastError();
    CloseServiceHandle(service);
    return error;
}

DWORD ControlNamedService(const std::string& name, DWORD control, SERVICE_STATUS* status)
{
    SC_HANDLE service = OpenNamedService(name, SERVICE_STOP | SERVICE_INTERROGATE);
    if (service == NULL)
        return GetLastError();
    DWORD error = ControlService(service, control, status) ? 0 : GetLastError();
    CloseServiceHandle(service);
    return error;
}

void DeleteServiceIfPresent(const std::string& name)
{
    SC_HANDLE service = OpenNamedService(name, DELETE);
    if (service != NULL) {
        DeleteService(service);
        CloseServiceHandle(service);
    }
}

std::string DescribeServiceConfig(const std::string& name)
{
    SC_HANDLE service = OpenNamedService(name, SERVICE_QUERY_CONFIG);
    if (service == NULL)
        return "";
    std::vector<BYTE> buffer(8192);
    DWORD needed = 0;
    std::string text;
    if (QueryServiceConfigA(service, (QUERY_SERVICE_CONFIGA*)buffer.data(), (DWORD)buffer.size(), &needed)) {
        const QUERY_SERVICE_CONFIGA* config = (const QUERY_SERVICE_CONFIGA*)buffer.data();
        text = "type=" + std::to_string(config->dwServiceType) + " start=" + std::to_string(config->dwStartType) +
               " error=" + std::to_string(config->dwErrorControl) + " path=" + config->lpBinaryPathName +
               " display=" + config->lpDisplayName + " account=" +
               (config->lpServiceStartName ? config->lpServiceStartName : "(null)");
    }
    CloseServiceHandle(service);
    return text;
}
