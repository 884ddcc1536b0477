// The registry writers of the installation. The registry functions return their error code instead of
// setting the last error: it is set here, so that the caller can report it as for any other call.
#include "service.h"

#include <string.h>

int RegistryCreateKey(HKEY root, const char* path)
{
    HKEY key = NULL;
    LONG status = RegCreateKeyExA(root, path, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL);
    if (status != ERROR_SUCCESS) {
        SetLastError((DWORD)status);
        return -1;
    }
    RegCloseKey(key);
    return 0;
}

// Writes one value of the given type into the existing key root\path.
static int RegistryWriteValue(HKEY root, const char* path, const char* valueName, DWORD type, const BYTE* data,
                              DWORD size)
{
    HKEY key = NULL;
    LONG status = RegOpenKeyExA(root, path, 0, KEY_WRITE, &key);
    if (status != ERROR_SUCCESS) {
        SetLastError((DWORD)status);
        return -1;
    }
    status = RegSetValueExA(key, valueName, 0, type, data, size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) {
        SetLastError((DWORD)status);
        return 1;
    }
    return 0;
}

int RegistryWriteExpandString(HKEY root, const char* path, const char* valueName, const char* text)
{
    // The terminating NUL is counted in the data size.
    return RegistryWriteValue(root, path, valueName, REG_EXPAND_SZ, (const BYTE*)text, (DWORD)strlen(text) + 1);
}

int RegistryWriteDword(HKEY root, const char* path, const char* valueName, DWORD number)
{
    return RegistryWriteValue(root, path, valueName, REG_DWORD, (const BYTE*)&number, sizeof(number));
}
