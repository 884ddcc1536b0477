#include "support.h"

std::string FreshFolder(const std::string& name)
{
    return FreshTempFolder("kestrun-jvm-e2e", name);
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
    std::string exePath = folder + "\\" + exeName;
    WriteTextFile(configPath, config);
    if (!RunBuilder(configPath, exePath, error)) {
        *error += "\nconfig:\n" + config;
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
