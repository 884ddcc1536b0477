#include "testkit.h"

#include <stdio.h>
#include <string.h>

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

std::string LauncherPath()
{
    return WindowsPath(KESTRUN_LAUNCHER_PATH);
}

std::string BuilderPath()
{
    return WindowsPath(KESTRUN_BUILDER_PATH);
}

std::string DoubleJvmPath()
{
    return WindowsPath(KESTRUN_JVM_DOUBLE_PATH);
}

void RemoveTree(const std::string& folder)
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

std::string FreshTempFolder(const std::string& group, const std::string& name)
{
    char temp[MAX_PATH];
    GetTempPathA(sizeof(temp), temp);
    std::string root = std::string(temp) + group;
    CreateDirectoryA(root.c_str(), NULL);
    std::string folder = root + "\\" + name;
    RemoveTree(folder);
    CreateDirectoryA(folder.c_str(), NULL);
    return folder;
}

std::string ReadTextFile(const std::string& path)
{
    // Shared for writing too: a trace or log may still be open in the program that writes it.
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
        DWORD wait = WaitForSingleObject(process.hProcess, timeoutMs);
        // Wine can signal an ended process a moment before its exit code can be read.
        for (int tries = 0; wait == WAIT_OBJECT_0 && tries < 100; tries++) {
            if (GetExitCodeProcess(process.hProcess, &exitCode) && exitCode != STILL_ACTIVE)
                break;
            Sleep(10);
        }
        if (wait == WAIT_OBJECT_0 && exitCode != STILL_ACTIVE) {
            code = (long)exitCode;
        } else {
            TerminateProcess(process.hProcess, 1);
            char note[128];
            snprintf(note, sizeof(note), "\n[ended: wait result %lu, exit code %lu]\n", wait, exitCode);
            DWORD written;
            WriteFile(output, note, (DWORD)strlen(note), &written, NULL);
        }
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    CloseHandle(output);
    return code;
}

bool RunBuilder(const std::string& configPath, const std::string& exePath, std::string* output)
{
    std::string commandLine = "\"" + BuilderPath() + "\" build \"" + configPath + "\" -o \"" + exePath +
                              "\" --launcher \"" + LauncherPath() + "\"";
    std::string outputPath = exePath + ".builder.txt";
    long code = RunConsoleProgram(commandLine, outputPath);
    // Under load Wine now and then reports an exit code of -1 for a builder that wrote its output and
    // returned 0; such a run is made once more (a real failure exits with 1 and says why).
    if (code == -1 && ReadTextFile(outputPath).find("kestrun: wrote ") == 0)
        code = RunConsoleProgram(commandLine, outputPath);
    *output = "builder exit " + std::to_string(code) + ": " + ReadTextFile(outputPath);
    return code == 0;
}
