#include "jre.h"

#include "arguments.h"
#include "format.h"
#include "java_version.h"
#include "machine_text.h"
#include "settings.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

char FoundJavaHome[260];
const char* JdkJvmSubPath = NULL;
RuntimeCandidateReporter RuntimeSearchReporter = NULL;

// The character of the method running, for the reports of methods 0 to 4.
static char RunningMethod;

// RegistryReadString's result for a text too long for its buffer: the candidate is skipped.
#define REGISTRY_TEXT_TOO_LONG 2

// The base keys under HKEY_LOCAL_MACHINE: 0 and 1 runtimes, 2 and 3 development kits.
static const char* const RuntimeRegistryKeys[4] = {
    "Software\\JavaSoft\\Java Runtime Environment",
    "Software\\IBM\\Java2 Runtime Environment",
    "Software\\JavaSoft\\Java Development Kit",
    "Software\\IBM\\Java Development Kit",
};

int RegistryReadString(HKEY root, const char* subkey, const char* valueName, char* buffer, DWORD size)
{
    HKEY key;
    // Only the old methods' keys, opened from the hive itself, take the view; keys the new methods
    // opened already carry theirs.
    REGSAM view = root == HKEY_LOCAL_MACHINE ? RuntimeRegistryView : 0;
    if (RegOpenKeyExA(root, subkey, 0, KEY_READ | view, &key) != ERROR_SUCCESS)
        return -1;
    // The value is read as UTF-16, as stored, and given in the ANSI code page (a path as MakeAnsiPath
    // gives it); room for size characters and a terminator that the stored text may lack.
    DWORD type = 0;
    DWORD length = size * sizeof(WCHAR);
    WCHAR* wide = (WCHAR*)calloc((size_t)size + 1, sizeof(WCHAR));
    WCHAR* wideName = WidenText(valueName);
    LONG status = wide == NULL || wideName == NULL
                      ? ERROR_NOT_ENOUGH_MEMORY
                      : RegQueryValueExW(key, wideName, NULL, &type, (BYTE*)wide, &length);
    RegCloseKey(key);
    free(wideName);
    char* narrow = status == ERROR_SUCCESS && (type == REG_SZ || type == REG_EXPAND_SZ) ? MakeAnsiPath(wide) : NULL;
    free(wide);
    int result = status == ERROR_MORE_DATA ? REGISTRY_TEXT_TOO_LONG : narrow == NULL ? 1 : 0;
    if (result == 0 && !CopyText(buffer, size, narrow))
        result = REGISTRY_TEXT_TOO_LONG;
    free(narrow);
    return result;
}

bool FileExists(const char* path)
{
    FILE* file = fopen(path, "r");
    if (file == NULL)
        return false;
    fclose(file);
    return true;
}

REGSAM RuntimeRegistryView = 0;

// Candidates reported so far: a method that adds none is reported as having found nothing.
static unsigned ReportedCandidates = 0;

// What each search method looks at, for the line of a method that found nothing.
static const char* MethodPlaces(char method)
{
    switch (method) {
    case '0': return "JvmPath";
    case '1':
        return "HKLM\\Software\\JavaSoft\\Java Runtime Environment, HKLM\\Software\\IBM\\Java2 Runtime Environment";
    case '2': case '3': case '4':
        return "HKLM\\Software\\JavaSoft\\Java Development Kit, HKLM\\Software\\IBM\\Java Development Kit";
    case 'B': return "BundledRuntime";
    case 'E': return "JAVA_HOME";
    case 'J': return "the JavaSoft registry keys";
    case 'V': return "the vendor registry keys";
    default: return NULL;
    }
}

void ReportCandidate(char method, const char* source, const char* home, const char* version, const char* jvm,
                     const char* verdict)
{
    ReportedCandidates++;
    if (RuntimeSearchReporter == NULL)
        return;
    RuntimeCandidateReport report = {method,          source ? source : "", home ? home : "",
                                     version ? version : "", jvm ? jvm : "", verdict};
    RuntimeSearchReporter(&report);
}

void ReadMinimumJavaVersion(JavaVersionNumber* minimum)
{
    if (!ReadJavaVersionSetting(LauncherSettings.JavaVersion, minimum)) {
        minimum->Parts[0] = 0;
        minimum->Count = 1;
    }
}

// Method 0: the first entry of JvmPath that names a readable file.
static bool FindJvmInPathList(char* result, size_t size)
{
    char* cursor = NULL;
    for (char* entry = NextToken(LauncherSettings.JvmPath, ";", &cursor); entry != NULL;
         entry = NextToken(LauncherSettings.JvmPath, ";", &cursor)) {
        // An entry longer than the result buffer is skipped, never cut.
        if (strlen(entry) < size && FileExists(entry)) {
            ReportCandidate('0', "JvmPath", "", "", entry, "taken");
            return CopyText(result, size, entry);
        }
        ReportCandidate('0', "JvmPath", "", "", entry, "no readable file");
    }
    return false;
}

// Accepts when home, a backslash and tail name a readable file (a path that does not fit is skipped).
static bool TryHomePath(const char* tail, char* result, size_t size)
{
    return FormatText(result, size, "%s\\%s", FoundJavaHome, tail) && FileExists(result);
}

// Reports a registered runtime of methods 1 to 4 as passed over; false.
static bool RejectRuntimeKey(const char* entryKey, const char* version, const char* jvm, const char* verdict)
{
    ReportCandidate(RunningMethod, entryKey, FoundJavaHome, version, jvm, verdict);
    return false;
}

// The same before the entry's home is read.
static bool RejectEarly(const char* entryKey, const char* version, const char* verdict)
{
    ReportCandidate(RunningMethod, entryKey, "", version, "", verdict);
    return false;
}

// Reports a registered runtime of methods 1 to 4 as taken; true.
static bool AcceptRuntimeKey(const char* entryKey, const char* version, const char* jvm)
{
    ReportCandidate(RunningMethod, entryKey, FoundJavaHome, version, jvm, "taken");
    return true;
}

// Checks one registered runtime, baseKey\versionName; true with the jvm.dll path in result.
static bool TryRuntimeKey(const char* baseKey, const char* versionName, char* result, size_t size)
{
    char entryKey[520];
    bool keyFits = FormatText(entryKey, sizeof(entryKey), "%s\\%s", baseKey, versionName);
    JavaVersionNumber minimum;
    ReadMinimumJavaVersion(&minimum);
    char verdict[200]; // a verdict with a version name too long for it is shown cut
    if (!JavaVersionAtLeast(versionName, &minimum))
        return RejectEarly(entryKey, versionName, TooOldVerdict(versionName, verdict, sizeof(verdict)));
    if (!keyFits)
        return RejectEarly(entryKey, versionName, "key name too long");
    FoundJavaHome[0] = 0;
    int home = RegistryReadString(HKEY_LOCAL_MACHINE, entryKey, "JavaHome", FoundJavaHome, sizeof(FoundJavaHome));
    if (home != 0)
        FoundJavaHome[0] = 0;
    if (home == REGISTRY_TEXT_TOO_LONG)
        return RejectRuntimeKey(entryKey, versionName, "", "JavaHome too long");
    result[0] = 0;
    int runtimeLib = RegistryReadString(HKEY_LOCAL_MACHINE, entryKey, "RuntimeLib", result, (DWORD)size);
    if (runtimeLib == 0 && FileExists(result))
        return AcceptRuntimeKey(entryKey, versionName, result);
    if (runtimeLib == 0)
        return RejectRuntimeKey(entryKey, versionName, result, "RuntimeLib names no readable file");
    if (runtimeLib == REGISTRY_TEXT_TOO_LONG || FoundJavaHome[0] == 0)
        return RejectRuntimeKey(entryKey, versionName, "", "neither RuntimeLib nor JavaHome");
    if (LauncherSettings.JvmPath[0] != 0 && TryHomePath(LauncherSettings.JvmPath, result, size))
        return AcceptRuntimeKey(entryKey, versionName, result);
    if (JdkJvmSubPath != NULL && TryHomePath(JdkJvmSubPath, result, size))
        return AcceptRuntimeKey(entryKey, versionName, result);
    return RejectRuntimeKey(entryKey, versionName, JdkJvmSubPath, "no jvm.dll at JvmPath or this method's path below JavaHome");
}

// Tries the runtimes registered under one base key: its current version first, then every subkey.
static bool FindJvmUnderKey(const char* baseKey, char* result, size_t size)
{
    char name[257];
    if (RegistryReadString(HKEY_LOCAL_MACHINE, baseKey, "CurrentVersion", name, sizeof(name)) == 0 &&
        TryRuntimeKey(baseKey, name, result, size))
        return true;
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, baseKey, 0, KEY_READ | RuntimeRegistryView, &key) != ERROR_SUCCESS)
        return false;
    bool found = false;
    for (DWORD index = 0; !found; ++index) {
        DWORD length = sizeof(name);
        LONG status = RegEnumKeyExA(key, index, name, &length, NULL, NULL, NULL, NULL);
        // A name too long for the buffer is skipped; the enumeration goes on.
        if (status == ERROR_MORE_DATA)
            continue;
        if (status != ERROR_SUCCESS)
            break;
        found = TryRuntimeKey(baseKey, name, result, size);
    }
    RegCloseKey(key);
    return found;
}

// Methods 1 to 4: the two base keys from firstKey on.
static bool FindJvmInRegistry(int firstKey, char* result, size_t size)
{
    for (int index = firstKey; index < firstKey + 2; ++index)
        if (FindJvmUnderKey(RuntimeRegistryKeys[index], result, size))
            return true;
    return false;
}

bool FindJavaRuntime(char* result, size_t size)
{
    for (const char* method = LauncherSettings.JreSearchOrder; *method != 0; ++method) {
        bool found = false;
        unsigned before = ReportedCandidates;
        RunningMethod = *method;
        switch (*method) {
        case '0':
            found = FindJvmInPathList(result, size);
            break;
        case '1':
            found = FindJvmInRegistry(0, result, size);
            break;
        case '2':
            JdkJvmSubPath = "jre\\bin\\client\\jvm.dll";
            found = FindJvmInRegistry(2, result, size);
            break;
        case '3':
            JdkJvmSubPath = "jre\\bin\\server\\jvm.dll";
            found = FindJvmInRegistry(2, result, size);
            break;
        case '4':
            JdkJvmSubPath = "jre\\bin\\classic\\jvm.dll";
            found = FindJvmInRegistry(2, result, size);
            break;
        default:
            found = FindModernRuntime(*method, result, size);
            break;
        }
        if (found)
            return true;
        if (ReportedCandidates == before && MethodPlaces(*method) != NULL)
            ReportCandidate(*method, MethodPlaces(*method), "", "", "", "nothing found");
    }
    return false;
}
