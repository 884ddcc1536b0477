#include "machine_text.h"

#include "format.h"
#include "report.h"
#include "settings.h"

#include <stdlib.h>
#include <string.h>

WCHAR* WidenText(const char* text)
{
    int length = MultiByteToWideChar(CP_ACP, 0, text, -1, NULL, 0);
    WCHAR* wide = length > 0 ? (WCHAR*)malloc((size_t)length * sizeof(WCHAR)) : NULL;
    if (wide != NULL && MultiByteToWideChar(CP_ACP, 0, text, -1, wide, length) != length) {
        free(wide);
        wide = NULL;
    }
    return wide;
}

char* NarrowExactly(const WCHAR* text)
{
    // A process whose code page is UTF-8 holds every character; only a lone surrogate fails.
    bool utf8 = GetACP() == CP_UTF8;
    DWORD flags = utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
    BOOL usedDefault = FALSE;
    int size = WideCharToMultiByte(CP_ACP, flags, text, -1, NULL, 0, NULL, utf8 ? NULL : &usedDefault);
    if (size <= 0 || usedDefault)
        return NULL;
    char* narrow = (char*)malloc((size_t)size);
    if (narrow != NULL && WideCharToMultiByte(CP_ACP, flags, text, -1, narrow, size, NULL, NULL) != size) {
        free(narrow);
        narrow = NULL;
    }
    return narrow;
}

char* MakeAnsiPath(const WCHAR* path)
{
    char* narrow = NarrowExactly(path);
    if (narrow != NULL)
        return narrow;
    DWORD size = GetShortPathNameW(path, NULL, 0);
    WCHAR* shortPath = size > 0 ? (WCHAR*)malloc((size_t)size * sizeof(WCHAR)) : NULL;
    DWORD length = shortPath != NULL ? GetShortPathNameW(path, shortPath, size) : 0;
    // A volume without 8.3 names gives the long name back: that has been tried already.
    if (length > 0 && length < size)
        narrow = NarrowExactly(shortPath);
    free(shortPath);
    return narrow;
}

// A message setting, read from the string table when the settings are not loaded (the cleanup child).
static const char* MessageSetting(const char* loaded, int id)
{
    return loaded != NULL ? loaded : LoadMessageText(id);
}

bool MakeAnsiPathOrReport(const WCHAR* path, char* buffer, size_t size)
{
    char* narrow = MakeAnsiPath(path);
    bool fits = narrow != NULL && CopyText(buffer, size, narrow);
    if (!fits) {
        char described[1024];
        DescribeWideText(path, described, sizeof(described));
        if (narrow != NULL) {
            SetLastError(ERROR_FILENAME_EXCED_RANGE);
            ShowErrorWithReason(MessageSetting(LauncherSettings.MsgFileAccess, SETTING_ID_FILE_ACCESS), described);
        } else {
            ShowError(MessageSetting(LauncherSettings.MsgPathCodePage, SETTING_ID_PATH_CODE_PAGE), described);
        }
        buffer[0] = 0;
    }
    free(narrow);
    return fits;
}

void DescribeWideText(const WCHAR* text, char* buffer, size_t size)
{
    size_t length = 0;
    buffer[0] = 0;
    for (const WCHAR* p = text; *p != 0; p++) {
        char piece[16];
        WCHAR one[2] = {*p, 0};
        unsigned code = *p;
        // A surrogate pair is one character: its code point is shown, not its two halves.
        if (p[0] >= 0xD800 && p[0] < 0xDC00 && p[1] >= 0xDC00 && p[1] < 0xE000)
            code = 0x10000 + (((unsigned)p[0] - 0xD800) << 10) + ((unsigned)p[1] - 0xDC00), p++;
        char* narrow = code < 0x10000 ? NarrowExactly(one) : NULL;
        if (narrow == NULL || !CopyText(piece, sizeof(piece), narrow))
            FormatText(piece, sizeof(piece), "<U+%04X>", code);
        free(narrow);
        if (!CopyText(buffer + length, size - length, piece)) {
            MarkTextCut(buffer, size);
            return;
        }
        length += strlen(piece);
    }
}

WCHAR* GetExeDirectory()
{
    WCHAR path[MAX_PATH];
    DWORD length = GetModuleFileNameW(NULL, path, MAX_PATH);
    // A name cut to the buffer (its length is then the buffer's) is not used.
    WCHAR* slash = length > 0 && length < MAX_PATH ? wcsrchr(path, '\\') : NULL;
    if (slash == NULL)
        return NULL;
    *slash = 0;
    return _wcsdup(path);
}

WCHAR* ExpandExeDirectory(WCHAR* text)
{
    const WCHAR* name = EXE_DIRECTORY_REFERENCE;
    size_t nameLength = wcslen(name), count = 0;
    for (const WCHAR* p = text != NULL ? wcsstr(text, name) : NULL; p != NULL; p = wcsstr(p + nameLength, name))
        count++;
    WCHAR* folder = count > 0 ? GetExeDirectory() : NULL;
    if (folder == NULL)
        return text;
    size_t folderLength = wcslen(folder);
    WCHAR* expanded = (WCHAR*)malloc((wcslen(text) + count * folderLength + 1) * sizeof(WCHAR));
    WCHAR* out = expanded;
    for (const WCHAR* p = text; out != NULL;) {
        const WCHAR* found = wcsstr(p, name);
        size_t before = found != NULL ? (size_t)(found - p) : wcslen(p);
        memcpy(out, p, before * sizeof(WCHAR));
        out += before;
        if (found == NULL)
            break;
        memcpy(out, folder, folderLength * sizeof(WCHAR));
        out += folderLength;
        p = found + nameLength;
    }
    if (out != NULL)
        *out = 0;
    free(folder);
    free(text);
    return expanded;
}

bool IsAbsolutePath(const char* path)
{
    return path[0] == '\\' || path[0] == '/' || (path[0] != 0 && path[1] == ':');
}

bool IsAbsolutePathW(const WCHAR* path)
{
    return path[0] == '\\' || path[0] == '/' || (path[0] != 0 && path[1] == ':');
}
