#include "variant.h"

#include "message_format.h"
#include "scramble.h"
#include "settings_table.h"

#include <fstream>
#include <sstream>
#include <vector>

#if !defined(KESTRUN_LAUNCHER_PATH) || !defined(KESTRUN_BUILDER_PATH)
#error "KESTRUN_LAUNCHER_PATH and KESTRUN_BUILDER_PATH name the built launcher and builder"
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

std::string TestFolder(const std::string& name)
{
    char temp[MAX_PATH];
    GetTempPathA(sizeof(temp), temp);
    std::string root = std::string(temp) + "kestrun-e2e";
    CreateDirectoryA(root.c_str(), NULL);
    std::string folder = root + "\\" + name;
    RemoveTree(folder);
    CreateDirectoryA(folder.c_str(), NULL);
    return folder;
}

// One string-table block holding the text as its first entry and 15 empty ones.
static std::vector<WORD> StringBlock(const std::string& text)
{
    int wideLength = MultiByteToWideChar(CP_ACP, 0, text.data(), (int)text.size(), NULL, 0);
    std::vector<WORD> block(1 + (size_t)wideLength + 15, 0);
    block[0] = (WORD)wideLength;
    MultiByteToWideChar(CP_ACP, 0, text.data(), (int)text.size(), (LPWSTR)&block[1], wideLength);
    return block;
}

// True for a value that the builder checks and refuses (a main class that is not properly scrambled,
// a message format with conversions the launcher cannot fill, a number that is not one): such values
// go straight into the string table, since the launcher must cope with a damaged table too.
static bool BuilderRefuses(int id, const std::string& text)
{
    const SettingInfo* info = FindSettingById(id);
    if (info == nullptr)
        return true;
    switch (info->Kind) {
    case SETTING_SCRAMBLED:
        return Scrambled(DescrambleText(text.c_str())) != text;
    case SETTING_MESSAGE:
        return !IsSafeMessageFormat(text.c_str(), CountMessageArguments(info->Shipped));
    case SETTING_INT:
        return text.empty() || text.find_first_not_of("-0123456789") != std::string::npos;
    default:
        return false;
    }
}

// Runs the builder on a config; false with its output in *error.
static bool RunBuilder(const std::string& config, const std::string& output, std::string* error)
{
    std::string log = output + ".builder.txt";
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), NULL, TRUE};
    HANDLE logFile = CreateFileA(log.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, NULL);
    std::string builder = WindowsPath(KESTRUN_BUILDER_PATH);
    std::string commandLine = "\"" + builder + "\" build \"" + config + "\" -o \"" + output + "\" --launcher \"" +
                              WindowsPath(KESTRUN_LAUNCHER_PATH) + "\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = logFile;
    startup.hStdError = logFile;
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
    CloseHandle(logFile);
    if (code != 0) {
        std::stringstream text;
        text << std::ifstream(log).rdbuf();
        *error = "builder exit " + std::to_string(code) + ": " + text.str();
    }
    return code == 0;
}

// Writes string-table entries into an existing launcher through the system's resource update.
static bool WriteEntries(const std::string& path, const SettingOverrides& entries, std::string* error)
{
    HANDLE update = BeginUpdateResourceA(path.c_str(), FALSE);
    if (update == NULL) {
        *error = "BeginUpdateResourceA: error " + std::to_string(GetLastError());
        return false;
    }
    for (const auto& [id, text] : entries) {
        std::vector<WORD> block = StringBlock(text);
        // The launcher's resources are US English; the same language replaces the entry.
        if (!UpdateResourceA(update, (LPCSTR)RT_STRING, MAKEINTRESOURCEA(id / 16 + 1),
                             MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), block.data(),
                             (DWORD)(block.size() * sizeof(WORD)))) {
            *error = "UpdateResourceA: error " + std::to_string(GetLastError());
            EndUpdateResourceA(update, TRUE);
            return false;
        }
    }
    if (!EndUpdateResourceA(update, FALSE)) {
        *error = "EndUpdateResourceA: error " + std::to_string(GetLastError());
        return false;
    }
    return true;
}

std::string MakeLauncherVariant(const std::string& folder, const std::string& fileName,
                                const SettingOverrides& overrides, std::string* error)
{
    std::string path = folder + "\\" + fileName;
    std::string settings = "[launcher]\n";
    std::string messages = "[messages]\n";
    SettingOverrides refused;
    for (const auto& [id, text] : overrides) {
        const SettingInfo* info = FindSettingById(id);
        if (BuilderRefuses(id, text))
            refused[id] = text;
        else if (info->Kind == SETTING_MESSAGE)
            messages += std::to_string(id) + " = \"" + text + "\"\n";
        else if (info->Kind == SETTING_SCRAMBLED)
            settings += std::string(info->Field) + " = \"" + DescrambleText(text.c_str()) + "\"\n";
        else
            settings += std::string(info->Field) + " = \"" + text + "\"\n";
    }
    std::string config = settings + messages;
    std::string configPath = path + ".ini";
    std::ofstream(configPath, std::ios::binary) << config;
    if (!RunBuilder(configPath, path, error))
        return "";
    if (!refused.empty() && !WriteEntries(path, refused, error))
        return "";
    return path;
}

std::string Scrambled(const std::string& mainClass)
{
    char text[2 * SCRAMBLE_MAX_PLAIN + 1];
    return ScrambleText(mainClass.c_str(), text, sizeof(text)) ? text : "";
}
