#include "kit.h"

#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <sstream>
#include <stdexcept>

// The builder's own build step (builder/build.h, whose resource names clash with windows.h): reads the
// config and the launcher and writes the output whole, or throws and writes nothing.
void BuildLauncher(const std::string& configPath, const std::string& launcherPath, const std::string& outputPath);

std::string WindowsPath(const std::string& path)
{
    std::string windows = "Z:" + path;
    std::replace(windows.begin(), windows.end(), '/', '\\');
    return windows;
}

std::string DoubleJvmPath() { return WindowsPath(KESTRUN_JVM_DOUBLE_PATH); }

void RemoveTree(const std::string& folder)
{
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(Wide(folder + "\\*").c_str(), &found);
    for (BOOL more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileW(search, &found)) {
        std::string name = Utf8(found.cFileName), path = folder + "\\" + name;
        if (name == "." || name == "..")
            continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            RemoveTree(path);
        else
            DeleteFileW(Wide(path).c_str());
    }
    if (search != INVALID_HANDLE_VALUE)
        FindClose(search);
    RemoveDirectoryW(Wide(folder).c_str());
}

// Creates every folder on the way to path's last backslash.
static void MakeParents(const std::string& path)
{
    for (size_t slash = path.find('\\', 3); slash != std::string::npos; slash = path.find('\\', slash + 1))
        CreateDirectoryW(Wide(path.substr(0, slash)).c_str(), NULL);
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
    FILE* file = _wfopen(Wide(path).c_str(), L"wb");
    bool written = file != NULL && fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return file != NULL && fclose(file) == 0 && written;
}

std::string ReadFile(const std::string& path)
{
    // Shared for writing (msvcrt's default): a log may still be open in the program that writes it.
    std::string text;
    FILE* file = _wfopen(Wide(path).c_str(), L"rb");
    char buffer[4096];
    for (size_t got; file != NULL && (got = fread(buffer, 1, sizeof(buffer), file)) > 0;)
        text.append(buffer, got);
    if (file != NULL)
        fclose(file);
    return text;
}

bool PathExists(const std::string& path)
{
    return GetFileAttributesW(Wide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string SystemText(DWORD code)
{
    char text[4000];
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL, code,
                                  MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), text, sizeof(text), NULL);
    return std::string(text, length);
}

bool WaitFor(const std::function<bool()>& condition, DWORD timeoutMs)
{
    for (DWORD start = GetTickCount(); GetTickCount() - start <= timeoutMs; Sleep(10))
        if (condition())
            return true;
    return condition();
}

std::string MakeLauncher(const std::string& folder, const std::string& exeName, const LauncherKeys& keys,
                         const std::string& extraSections, std::string* error)
{
    std::string config = "[launcher]\n";
    for (const auto& [key, value] : keys)
        config += key + " = \"" + value + "\"\n";
    config += extraSections;
    std::string configPath = folder + "\\" + exeName + ".ini.cfg", exePath = folder + "\\" + exeName;
    try {
        if (!WriteFile(configPath, config))
            throw std::runtime_error("cannot write " + configPath);
        BuildLauncher(configPath, WindowsPath(KESTRUN_LAUNCHER_PATH), exePath);
    } catch (const std::exception& failure) {
        *error = std::string(failure.what()) + "\nconfig:\n" + config;
        return "";
    }
    return exePath;
}

bool WriteRawData(const std::string& exe, int id, const std::string& bytes, std::string* error, LPCSTR type)
{
    // The launcher's resources are US English; the same language replaces the entry.
    HANDLE update = BeginUpdateResourceA(exe.c_str(), FALSE);
    bool ok = update != NULL && UpdateResourceA(update, type, MAKEINTRESOURCEA(id),
                                                MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), (void*)bytes.data(),
                                                (DWORD)bytes.size());
    // Ending the update writes the changes, or discards them after a failure.
    ok = update != NULL && EndUpdateResourceA(update, !ok) && ok;
    *error = ok ? "" : "resource update failed: error " + std::to_string(GetLastError());
    return ok;
}

bool WriteScript(const std::string& root, const std::string& className, const std::string& script)
{
    std::string relative = className;
    std::replace(relative.begin(), relative.end(), '.', '\\');
    return WriteFile(root + "\\" + relative + ".script", script);
}

// The lines of text without their line ends.
static std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);)
        lines.push_back(line.substr(0, line.find_last_not_of('\r') + 1));
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
        char c = text[i];
        if (c == '\\' && i + 1 < text.size())
            c = text[++i] == 'n' ? '\n' : text[i] == 'r' ? '\r' : text[i] == 't' ? '\t' : text[i];
        plain += c;
    }
    return plain;
}

std::vector<EventLine> EventsSince(size_t mark)
{
    // An entry's line: THREAD:TYPE:eventlog:ReportEventW L"TEXT", the text escaped.
    const std::string marker = ":eventlog:ReportEventW L\"";
    std::string all = SessionErrorText();
    std::vector<EventLine> events;
    for (const std::string& line : Lines(all.substr(std::min(mark, all.size())))) {
        size_t at = line.find(marker), typeStart = line.find(':');
        if (at == std::string::npos || typeStart >= at)
            continue;
        std::string text = line.substr(at + marker.size());
        if (!text.empty() && text.back() == '"')
            text.pop_back();
        events.push_back({line.substr(typeStart + 1, at - typeStart - 1), Unescape(text)});
    }
    return events;
}
