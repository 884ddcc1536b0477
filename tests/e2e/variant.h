// Launcher variants for end-to-end tests, made with the builder from a config; values the builder
// refuses (a damaged string table) are then written in through the system's resource update.
#pragma once

#include "testkit.h"

#include <windows.h>

#include <map>
#include <string>

// Setting identifier -> text (ANSI); an empty text leaves the entry empty.
using SettingOverrides = std::map<int, std::string>;

// A fresh empty folder for one test under the temporary directory; name may hold spaces.
std::string TestFolder(const std::string& name);
// Builds folder\fileName from the built launcher with the overrides in its string table.
// Returns its path, or "" on failure (the reason is in *error).
std::string MakeLauncherVariant(const std::string& folder, const std::string& fileName,
                                const SettingOverrides& overrides, std::string* error);
// The scrambled form of a main class, as the string table stores it.
std::string Scrambled(const std::string& mainClass);
