#include "variant.h"

#include "scramble.h"

#include <vector>

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

std::string MakeLauncherVariant(const std::string& folder, const std::string& fileName,
                                const SettingOverrides& overrides, std::string* error)
{
    std::string path = folder + "\\" + fileName;
    if (!CopyFileA(WindowsPath(KESTRUN_LAUNCHER_PATH).c_str(), path.c_str(), FALSE)) {
        *error = "cannot copy the launcher: error " + std::to_string(GetLastError());
        return "";
    }
    HANDLE update = BeginUpdateResourceA(path.c_str(), FALSE);
    if (update == NULL) {
        *error = "BeginUpdateResourceA: error " + std::to_string(GetLastError());
        return "";
    }
    for (const auto& [id, text] : overrides) {
        std::vector<WORD> block = StringBlock(text);
        // The launcher's resources are US English; the same language replaces the entry.
        if (!UpdateResourceA(update, (LPCSTR)RT_STRING, MAKEINTRESOURCEA(id / 16 + 1),
                             MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), block.data(),
                             (DWORD)(block.size() * sizeof(WORD)))) {
            *error = "UpdateResourceA: error " + std::to_string(GetLastError());
            EndUpdateResourceA(update, TRUE);
            return "";
        }
    }
    if (!EndUpdateResourceA(update, FALSE)) {
        *error = "EndUpdateResourceA: error " + std::to_string(GetLastError());
        return "";
    }
    return path;
}

std::string Scrambled(const std::string& mainClass)
{
    char text[2 * SCRAMBLE_MAX_PLAIN + 1];
    return ScrambleText(mainClass.c_str(), text, sizeof(text)) ? text : "";
}
