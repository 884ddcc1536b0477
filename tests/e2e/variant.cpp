#include "variant.h"

#include "message_format.h"
#include "scramble.h"
#include "settings_table.h"
#include "testkit.h"

#include <fstream>
#include <vector>

std::string TestFolder(const std::string& name)
{
    return FreshTempFolder("kestrun-e2e", name);
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
