#include "jre.h"

#include "arguments.h"
#include "format.h"
#include "java_version.h"
#include "settings.h"

#include <stdio.h>
#include <string.h>

char FoundJavaHome[260];
const char* JdkJvmSubPath = NULL;

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
    if (RegOpenKeyExA(root, subkey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return -1;
    DWORD type = 0;
    DWORD length = size;
    LONG status = RegQueryValueExA(key, valueName, NULL, &type, (BYTE*)buffer, &length);
    RegCloseKey(key);
    if (status == ERROR_MORE_DATA)
        return REGISTRY_TEXT_TOO_LONG;
    if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ))
        return 1;
    // A stored text need not end in a terminator: one is added when there is room for it.
    if (length > 0 && buffer[length - 1] == 0)
        return 0;
    if (length >= size)
        return REGISTRY_TEXT_TOO_LONG;
    buffer[length] = 0;
    return 0;
}

bool FileExists(const char* path)
{
    FILE* file = fopen(path, "r");
    if (file == NULL)
        return false;
    fclose(file);
    return true;
}

// Method 0: the first entry of JvmPath that names a readable file.
static bool FindJvmInPathList(char* result, size_t size)
{
    char* cursor = NULL;
    for (char* entry = NextToken(LauncherSettings.JvmPath, ";", &cursor); entry != NULL;
         entry = NextToken(LauncherSettings.JvmPath, ";", &cursor)) {
        // An entry longer than the result buffer is skipped, never cut.
        if (strlen(entry) < size && FileExists(entry))
            return CopyText(result, size, entry);
    }
    return false;
}

// Accepts when home, a backslash and tail name a readable file (a path that does not fit is skipped).
static bool TryHomePath(const char* tail, char* result, size_t size)
{
    return FormatText(result, size, "%s\\%s", FoundJavaHome, tail) && FileExists(result);
}

// Checks one registered runtime, baseKey\versionName; true with the jvm.dll path in result.
static bool TryRuntimeKey(const char* baseKey, const char* versionName, char* result, size_t size)
{
    if (!JavaVersionAcceptable(versionName, LauncherSettings.JavaVersionWord))
        return false;
    char entryKey[520];
    if (!FormatText(entryKey, sizeof(entryKey), "%s\\%s", baseKey, versionName))
        return false;
    FoundJavaHome[0] = 0;
    int home = RegistryReadString(HKEY_LOCAL_MACHINE, entryKey, "JavaHome", FoundJavaHome, sizeof(FoundJavaHome));
    if (home != 0)
        FoundJavaHome[0] = 0;
    if (home == REGISTRY_TEXT_TOO_LONG)
        return false;
    result[0] = 0;
    int runtimeLib = RegistryReadString(HKEY_LOCAL_MACHINE, entryKey, "RuntimeLib", result, (DWORD)size);
    if (runtimeLib == 0 && FileExists(result))
        return true;
    if (runtimeLib == 0 || runtimeLib == REGISTRY_TEXT_TOO_LONG || FoundJavaHome[0] == 0)
        return false;
    if (LauncherSettings.JvmPath[0] != 0 && TryHomePath(LauncherSettings.JvmPath, result, size))
        return true;
    return JdkJvmSubPath != NULL && TryHomePath(JdkJvmSubPath, result, size);
}

// Tries the runtimes registered under one base key: its current version first, then every subkey.
static bool FindJvmUnderKey(const char* baseKey, char* result, size_t size)
{
    char name[257];
    if (RegistryReadString(HKEY_LOCAL_MACHINE, baseKey, "CurrentVersion", name, sizeof(name)) == 0 &&
        TryRuntimeKey(baseKey, name, result, size))
        return true;
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, baseKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
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
            break;
        }
        if (found)
            return true;
    }
    return false;
}
