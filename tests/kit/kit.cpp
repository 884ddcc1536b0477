#include "kit.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <exception>
#include <sstream>

// The builder's own build step (builder/build.h, whose resource names clash with windows.h): reads the
// config and the launcher and writes the output whole, or throws and writes nothing.
void BuildLauncher(const std::string& configPath, const std::string& launcherPath, const std::string& outputPath);

#if !defined(KESTRUN_LAUNCHER_PATH) || !defined(KESTRUN_BUILDER_PATH) || !defined(KESTRUN_JVM_DOUBLE_PATH)
#error "the build names its launcher, builder and test-double jvm.dll"
#endif

std::string WindowsPath(const std::string& path)
{
    if (path.empty() || path[0] != '/')
        return path;
    std::string windows = "Z:" + path;
    for (char& c : windows)
        if (c == '/')
            c = '\\';
    return windows;
}

std::string LauncherPath() { return WindowsPath(KESTRUN_LAUNCHER_PATH); }
std::string BuilderPath() { return WindowsPath(KESTRUN_BUILDER_PATH); }
std::string DoubleJvmPath() { return WindowsPath(KESTRUN_JVM_DOUBLE_PATH); }

void RemoveTree(const std::string& folder)
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::string name = found.cFileName;
            std::string path = folder + "\\" + name;
            if (name == "." || name == "..")
                continue;
            SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(path);
            else
                DeleteFileA(path.c_str());
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    RemoveDirectoryA(folder.c_str());
}

// Creates every folder on the way to path's last backslash.
static void MakeParents(const std::string& path)
{
    for (size_t slash = path.find('\\', 3); slash != std::string::npos; slash = path.find('\\', slash + 1))
        CreateDirectoryA(path.substr(0, slash).c_str(), NULL);
}

std::string FreshFolder(const std::string& name)
{
    char temp[MAX_PATH];
    GetTempPathA(sizeof(temp), temp);
    std::string folder = std::string(temp) + "kestrun-tests\\" + name;
    RemoveTree(folder);
    MakeParents(folder + "\\");
    return folder;
}

bool WriteFile(const std::string& path, const std::string& bytes)
{
    MakeParents(path);
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    bool ok = ::WriteFile(file, bytes.data(), (DWORD)bytes.size(), &written, NULL) && written == bytes.size();
    CloseHandle(file);
    return ok;
}

std::string ReadFile(const std::string& path)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return "";
    std::string text;
    char buffer[4096];
    DWORD got = 0;
    while (::ReadFile(file, buffer, sizeof(buffer), &got, NULL) && got > 0)
        text.append(buffer, got);
    CloseHandle(file);
    return text;
}

bool PathExists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string SystemText(DWORD code)
{
    char text[4000];
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL, code,
                                  MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), text, sizeof(text), NULL);
    return length > 0 ? std::string(text, length) : "(no text for " + std::to_string(code) + ")";
}

bool WaitFor(const std::function<bool()>& condition, DWORD timeoutMs)
{
    for (DWORD start = GetTickCount();; Sleep(10)) {
        if (condition())
            return true;
        if (GetTickCount() - start > timeoutMs)
            return condition();
    }
}

long RunConsoleProgram(std::string commandLine, const std::string& outputPath, DWORD timeoutMs)
{
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), NULL, TRUE};
    HANDLE output = CreateFileA(outputPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, NULL);
    if (output == INVALID_HANDLE_VALUE)
        return -1;
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = output;
    startup.hStdError = output;
    PROCESS_INFORMATION process = {};
    long code = -1;
    if (CreateProcessA(NULL, &commandLine[0], NULL, NULL, TRUE, CREATE_NO_WINDOW, NULL, NULL, &startup, &process)) {
        DWORD exitCode = STILL_ACTIVE;
        if (WaitForSingleObject(process.hProcess, timeoutMs) == WAIT_OBJECT_0 &&
            GetExitCodeProcess(process.hProcess, &exitCode))
            code = (long)exitCode;
        else
            TerminateProcess(process.hProcess, 1);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    CloseHandle(output);
    return code;
}

std::string MakeLauncher(const std::string& folder, const std::string& exeName, const LauncherKeys& keys,
                         const std::string& extraSections, std::string* error)
{
    std::string config = "[launcher]\n";
    for (const auto& [key, value] : keys)
        config += key + " = \"" + value + "\"\n";
    config += extraSections;
    std::string configPath = folder + "\\" + exeName + ".ini.cfg";
    std::string exePath = folder + "\\" + exeName;
    if (!WriteFile(configPath, config)) {
        *error = "cannot write " + configPath;
        return "";
    }
    try {
        BuildLauncher(configPath, LauncherPath(), exePath);
    } catch (const std::exception& failure) {
        *error = std::string(failure.what()) + "\nconfig:\n" + config;
        return "";
    }
    return exePath;
}

// One string-table block holding text as its first entry and 15 empty ones.
static std::vector<WORD> StringBlock(const std::string& text)
{
    int wideLength = MultiByteToWideChar(CP_ACP, 0, text.data(), (int)text.size(), NULL, 0);
    std::vector<WORD> block(1 + (size_t)wideLength + 15, 0);
    block[0] = (WORD)wideLength;
    MultiByteToWideChar(CP_ACP, 0, text.data(), (int)text.size(), (LPWSTR)&block[1], wideLength);
    return block;
}

bool WriteStringEntries(const std::string& exe, const std::map<int, std::string>& entries, std::string* error)
{
    HANDLE update = BeginUpdateResourceA(exe.c_str(), FALSE);
    bool ok = update != NULL;
    for (auto entry = entries.begin(); ok && entry != entries.end(); ++entry) {
        std::vector<WORD> block = StringBlock(entry->second);
        // The launcher's resources are US English; the same language replaces the entry.
        ok = UpdateResourceA(update, (LPCSTR)RT_STRING, MAKEINTRESOURCEA(entry->first / 16 + 1),
                             MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), block.data(),
                             (DWORD)(block.size() * sizeof(WORD)));
    }
    if (!ok)
        *error = "resource update failed: error " + std::to_string(GetLastError());
    if (update != NULL && !EndUpdateResourceA(update, !ok) && ok) {
        *error = "EndUpdateResourceA: error " + std::to_string(GetLastError());
        ok = false;
    }
    return ok;
}

bool WriteRawData(const std::string& exe, int id, const std::string& bytes, std::string* error)
{
    HANDLE update = BeginUpdateResourceA(exe.c_str(), FALSE);
    bool ok = update != NULL && UpdateResourceA(update, (LPCSTR)RT_RCDATA, MAKEINTRESOURCEA(id),
                                                MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), (void*)bytes.data(),
                                                (DWORD)bytes.size());
    if (!ok)
        *error = "resource update failed: error " + std::to_string(GetLastError());
    if (update != NULL && !EndUpdateResourceA(update, !ok) && ok) {
        *error = "EndUpdateResourceA: error " + std::to_string(GetLastError());
        ok = false;
    }
    return ok;
}

bool WriteScript(const std::string& root, const std::string& className, const std::string& script)
{
    std::string relative = className;
    for (char& c : relative)
        if (c == '.')
            c = '\\';
    return WriteFile(root + "\\" + relative + ".script", script);
}

// The lines of text without their line ends.
static std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

std::vector<std::string> TraceLines(const std::string& tracePath, const std::string& prefix)
{
    std::vector<std::string> found;
    for (const std::string& line : Lines(ReadFile(tracePath))) {
        size_t close = line.find("] ");
        if (close != std::string::npos && line.compare(close + 2, prefix.size(), prefix) == 0)
            found.push_back(line.substr(close + 2 + prefix.size()));
    }
    return found;
}

std::vector<std::string> ReceivedOptions(const std::string& tracePath)
{
    std::vector<std::string> options;
    for (const std::string& line : TraceLines(tracePath, "option[")) {
        size_t close = line.find("] ");
        options.push_back(close == std::string::npos ? line.substr(line.find(']') + 1) : line.substr(close + 2));
    }
    return options;
}

// The Wine session's standard error, where Wine prints the event-log entries of every process.
static std::string SessionErrorText()
{
    const char* session = getenv("KESTRUN_SESSION");
    return session == nullptr ? "" : ReadFile(WindowsPath(session) + "\\session.err");
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
    std::vector<EventLine> events;
    const std::string marker = ":eventlog:ReportEventW L\"";
    for (const std::string& line : Lines(mark <= all.size() ? all.substr(mark) : "")) {
        size_t at = line.find(marker);
        size_t typeStart = line.find(':');
        if (at == std::string::npos || typeStart >= at)
            continue;
        std::string text = line.substr(at + marker.size());
        if (!text.empty() && text.back() == '"')
            text.pop_back();
        events.push_back({line.substr(typeStart + 1, at - typeStart - 1), Unescape(text)});
    }
    return events;
}

std::string DescribeEvents(const std::vector<EventLine>& events)
{
    std::string text;
    for (const EventLine& event : events)
        text += event.Type + ": " + event.Text + "\n";
    return text.empty() ? "(no event-log entries)\n" : text;
}
