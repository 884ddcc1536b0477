#include "probe.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static void PrintString(HMODULE module, int id)
{
    char text[70000];
    int length = LoadStringA(module, (UINT)id, text, sizeof(text));
    printf("string %d %d ", id, length);
    for (int i = 0; i < length; i++)
        printf("%02X", (unsigned char)text[i]);
    printf("\n");
}

static void PrintRcdata(HMODULE module, int id)
{
    HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(10));
    HGLOBAL loaded = found ? LoadResource(module, found) : NULL;
    const unsigned char* data = loaded ? (const unsigned char*)LockResource(loaded) : NULL;
    if (data == NULL) {
        printf("rcdata %d missing\n", id);
        return;
    }
    DWORD size = SizeofResource(module, found), hash = 2166136261u;
    for (DWORD i = 0; i < size; i++)
        hash = (hash ^ data[i]) * 16777619u;
    printf("rcdata %d %lu %08lX\n", id, (unsigned long)size, (unsigned long)hash);
}

static void PrintBitmap(HMODULE module, int id)
{
    HBITMAP bitmap = LoadBitmapA(module, MAKEINTRESOURCEA(id));
    BITMAP info;
    if (bitmap == NULL || GetObjectA(bitmap, sizeof(info), &info) == 0) {
        printf("bitmap %d missing\n", id);
        return;
    }
    printf("bitmap %d %ld %ld %d\n", id, (long)info.bmWidth, (long)info.bmHeight, info.bmBitsPixel);
    DeleteObject(bitmap);
}

static BOOL CALLBACK FirstName(HMODULE, LPCSTR, LPSTR name, LONG_PTR found)
{
    *(LPSTR*)found = IS_INTRESOURCE(name) ? name : _strdup(name);
    return FALSE;
}

// Loads every image the group lists, as the shell would when it draws the icon.
static void PrintIcon(HMODULE module)
{
    LPSTR group = NULL;
    EnumResourceNamesA(module, MAKEINTRESOURCEA(14), FirstName, (LONG_PTR)&group);
    HRSRC found = group ? FindResourceA(module, group, MAKEINTRESOURCEA(14)) : NULL;
    const BYTE* dir = found ? (const BYTE*)LockResource(LoadResource(module, found)) : NULL;
    if (dir == NULL) {
        printf("icon missing\n");
        return;
    }
    int count = *(const WORD*)(dir + 4), loaded = 0;
    for (int i = 0; i < count; i++) {
        WORD id = *(const WORD*)(dir + 6 + 14 * i + 12);
        HRSRC image = FindResourceA(module, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(3));
        BYTE* bits = image ? (BYTE*)LockResource(LoadResource(module, image)) : NULL;
        HICON icon = bits ? CreateIconFromResourceEx(bits, SizeofResource(module, image), TRUE,
                                                     0x00030000, 0, 0, LR_DEFAULTCOLOR)
                          : NULL;
        if (icon != NULL)
            loaded++, DestroyIcon(icon);
    }
    printf("icon %d %d %d\n", IS_INTRESOURCE(group) ? (int)(ULONG_PTR)group : -1, count, loaded);
}

static void PrintManifest(HMODULE module)
{
    HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
    if (found == NULL)
        printf("manifest missing\n");
    else
        printf("manifest %lu\n", (unsigned long)SizeofResource(module, found));
}

bool ProbeModule(HMODULE module, const char* query, const char* argument)
{
    int id = argument ? atoi(argument) : 0;
    if (strcmp(query, "string") == 0)
        PrintString(module, id);
    else if (strcmp(query, "rcdata") == 0)
        PrintRcdata(module, id);
    else if (strcmp(query, "bitmap") == 0)
        PrintBitmap(module, id);
    else if (strcmp(query, "icon") == 0)
        PrintIcon(module);
    else if (strcmp(query, "manifest") == 0)
        PrintManifest(module);
    else
        return false;
    return true;
}

void ProbeVersion(const char* path)
{
    static const char* const keys[] = {"ProductName", "ProductVersion", "FileVersion",
                                       "CompanyName", "FileDescription", "LegalCopyright"};
    DWORD ignored = 0, size = GetFileVersionInfoSizeA(path, &ignored);
    char* data = size ? (char*)malloc(size) : NULL;
    if (data == NULL || !GetFileVersionInfoA(path, 0, size, data)) {
        printf("version missing\n");
        free(data);
        return;
    }
    for (const char* key : keys) {
        char query[128];
        char* value = NULL;
        UINT length = 0;
        snprintf(query, sizeof(query), "\\StringFileInfo\\040904B0\\%s", key);
        if (VerQueryValueA(data, query, (void**)&value, &length) && value)
            printf("version %s=%s\n", key, value);
    }
    VS_FIXEDFILEINFO* fixed = NULL;
    UINT length = 0;
    if (VerQueryValueA(data, "\\", (void**)&fixed, &length) && fixed)
        printf("version FileVersion#=%lu.%lu.%lu.%lu\n", fixed->dwFileVersionMS >> 16,
               fixed->dwFileVersionMS & 0xFFFF, fixed->dwFileVersionLS >> 16,
               fixed->dwFileVersionLS & 0xFFFF);
    free(data);
}

int RunProbes(HMODULE module, const char* path, int argc, char** argv, int first)
{
    for (int i = first; i < argc; i++) {
        bool takesId = strcmp(argv[i], "string") == 0 || strcmp(argv[i], "rcdata") == 0 ||
                       strcmp(argv[i], "bitmap") == 0;
        if (strcmp(argv[i], "version") == 0)
            ProbeVersion(path);
        else if ((takesId && i + 1 >= argc) || !ProbeModule(module, argv[i], takesId ? argv[i + 1] : NULL))
            return 2;
        if (takesId)
            i++;
    }
    fflush(stdout);
    return 0;
}
