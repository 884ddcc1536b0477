// A launcher config: what the INI file asks for, checked and converted, ready to be written into
// a launcher's resources.
#pragma once

#include "ini.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

// A string-table setting as it will be stored (the main class already scrambled).
struct PlannedSetting {
    std::u16string Text;
    int Line;
};

// A path or pattern from the config, with the line that named it.
struct PlannedPath {
    std::string Path; // as written; relative paths are relative to the config's folder
    int Line;
};

struct PlannedVersion {
    int Line = 0;                                           // 0: no [version] section
    uint16_t FileVersion[4] = {0, 0, 0, 0};
    uint16_t ProductVersion[4] = {0, 0, 0, 0};
    std::vector<std::pair<std::string, std::u16string>> Strings; // in a fixed order
};

struct PlannedManifest {
    int Line = 0;                          // 0: no [manifest] section
    PlannedPath File{"", 0};               // replaces the generated manifest when set
    std::string Execution = "asInvoker";   // requestedExecutionLevel
    std::string DpiAwareness = "system";   // none, system, permonitor or permonitorv2
};

// The string-table ids of the settings the config named, stored as text ("1184 1072") in RCDATA
// CONFIG_RECORD_ID so that `kestrun show` can tell them from the builder's defaults.
const uint16_t CONFIG_RECORD_ID = 16001;

struct BuildPlan {
    std::string ConfigPath;
    std::string BaseDir;                   // folder of the config, for relative paths
    unsigned CodePage = 1252;
    std::map<int, PlannedSetting> Settings; // by string-table id
    bool HasFiles = false;                 // a [files] section exists (it may be empty)
    std::vector<PlannedPath> Files;
    std::vector<int> Named;                // ids of the settings the config named, in config order
    bool SplashShown = true;               // false: the launcher shows no splash, bitmap 8000 goes
    PlannedPath Splash{"", 0};
    PlannedPath Icon{"", 0};
    PlannedVersion Version;
    PlannedManifest Manifest;
};

// Checks an INI file and turns it into a plan. Throws BuildError "config:line: ..." for unknown
// sections and keys (with the nearest valid one), a missing or empty main class or one written as
// a file name, a stream mode 1 without its file, values the kind does not accept, text the code page
// cannot represent and values too long for the string table. Settings the config does not name get
// the builder's defaults (BuilderDefault), not the prebuilt launcher's example values.
BuildPlan InterpretConfig(const IniFile& ini);
// The value a launcher built from a config gets for a setting the config does not name, when it
// differs from the prebuilt launcher's shipped value (the plan's product name and splash decide
// SplashText and SplashUntilWindow); null when the shipped value stays.
const char* BuilderDefault(const char* field);
// Why name is not a class name the launcher can run ("" when it is): blanks, a '/' or a ".class"
// ending (with the dotted form suggested), characters no Java name holds.
std::string ClassNameProblem(const std::string& name);
// True when the config makes a console program (Console = yes).
bool IsConsoleProgram(const BuildPlan& plan);
// Throws BuildError for service settings the service manager would refuse or ignore (service_checks.cpp).
void CheckServiceSettings(const BuildPlan& plan);
// Reads and interprets the config file at path.
BuildPlan ReadBuildPlan(const std::string& path);
// Resolves a config path against the config's folder.
std::string ResolvePath(const BuildPlan& plan, const std::string& path);
