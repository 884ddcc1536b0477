#include "support.h"

#ifndef KESTRUN_LAUNCHER_PATH
#error "KESTRUN_LAUNCHER_PATH names the built launcher"
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

std::string DoubleJvmPath()
{
    return WindowsPath(KESTRUN_JVM_DOUBLE_PATH);
}

static void RemoveTree(const std::string& folder)
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::string name = found.cFileName;
            if (name == "." || name == "..")
                continue;
            std::string path = folder + "\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(path);
            else
                DeleteFileA(path.c_str());
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    RemoveDirectoryA(folder.c_str());
}

std::string FreshFolder(const std::string& name)
{
    char temp[MAX_PATH];
    GetTempPathA(sizeof(temp), temp);
    std::string root = std::string(temp) + "kestrun-jvm-e2e";
    CreateDirectoryA(root.c_str(), NULL);
    std::string folder = root + "\\" + name;
    RemoveTree(folder);
    CreateDirectoryA(folder.c_str(), NULL);
    return folder;
}

bool WriteTextFile(const std::string& path, const std::string& text)
{
    for (size_t slash = path.find('\\', 3); slash != std::string::npos; slash = path.find('\\', slash + 1))
        CreateDirectoryA(path.substr(0, slash).c_str(), NULL);
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    bool ok = WriteFile(file, text.data(), (DWORD)text.size(), &written, NULL) && written == text.size();
    CloseHandle(file);
    return ok;
}

std::string ReadTextFile(const std::string& path)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                              0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return "";
    std::string text;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof(buffer), &got, NULL) && got > 0)
        text.append(buffer, got);
    CloseHandle(file);
    return text;
}

bool PathExists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool WriteScript(const std::string& root, const std::string& className, const std::string& script)
{
    std::string relative = className;
    for (char& c : relative)
        if (c == '.')
            c = '\\';
    return WriteTextFile(root + "\\" + relative + ".script", script);
}

std::string BuildLauncher(const std::string& folder, const std::string& exeName, const LauncherKeys& keys,
                          const std::string& extraSections, std::string* error)
{
    std::string config = "[launcher]\n";
    for (const auto& [key, value] : keys)
        config += key + " = \"" + value + "\"\n";
    config += extraSections;
    std::string configPath = folder + "\\" + exeName + ".ini.cfg";
    std::string outputPath = folder + "\\" + exeName + ".builder.txt";
    std::string exePath = folder + "\\" + exeName;
    WriteTextFile(configPath, config);
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), NULL, TRUE};
    HANDLE output = CreateFileA(outputPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, NULL);
    std::string builder = WindowsPath(KESTRUN_BUILDER_PATH);
    std::string commandLine = "\"" + builder + "\" build \"" + configPath + "\" -o \"" + exePath +
                              "\" --launcher \"" + WindowsPath(KESTRUN_LAUNCHER_PATH) + "\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = output;
    startup.hStdError = output;
    PROCESS_INFORMATION process = {};
    DWORD code = 1;
    if (CreateProcessA(builder.c_str(), &commandLine[0], NULL, NULL, TRUE, CREATE_NO_WINDOW, NULL, NULL, &startup,
                       &process)) {
        if (WaitForSingleObject(process.hProcess, 60000) != WAIT_OBJECT_0)
            TerminateProcess(process.hProcess, 1);
        GetExitCodeProcess(process.hProcess, &code);
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
    }
    CloseHandle(output);
    if (code != 0) {
        *error = "builder exit " + std::to_string(code) + ": " + ReadTextFile(outputPath) + "\nconfig:\n" + config;
        return "";
    }
    return exePath;
}

std::vector<std::string> TraceLines(const std::string& tracePath, const std::string& prefix)
{
    std::vector<std::string> lines;
    std::string text = ReadTextFile(tracePath);
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        size_t close = line.find("] ");
        if (close != std::string::npos && line.compare(close + 2, prefix.size(), prefix) == 0)
            lines.push_back(line.substr(close + 2 + prefix.size()));
        start = end + 1;
    }
    return lines;
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

static std::string Convert(const std::string& text, UINT from, UINT to)
{
    if (text.empty())
        return text;
    int wideLength = MultiByteToWideChar(from, 0, text.data(), (int)text.size(), NULL, 0);
    std::wstring wide((size_t)wideLength, L'\0');
    MultiByteToWideChar(from, 0, text.data(), (int)text.size(), &wide[0], wideLength);
    int length = WideCharToMultiByte(to, 0, wide.data(), wideLength, NULL, 0, NULL, NULL);
    std::string result((size_t)length, '\0');
    WideCharToMultiByte(to, 0, wide.data(), wideLength, &result[0], length, NULL, NULL);
    return result;
}

std::string AnsiToUtf8(const std::string& text)
{
    return Convert(text, CP_ACP, CP_UTF8);
}

std::string Utf8ToAnsi(const std::string& text)
{
    return Convert(text, CP_UTF8, CP_ACP);
}
