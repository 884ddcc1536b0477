#include "settings.h"

#include "embedded.h"
#include "format.h"
#include "launch_log.h"
#include "machine_text.h"
#include "message_format.h"
#include "report.h"
#include "scramble.h"
#include "settings_table.h"

#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <type_traits>

LauncherSettingsData LauncherSettings;

// Stands in for a text when the heap cannot supply one, so that a text is never null.
static char NoMemoryText[1] = "";

// Where each entry of the table of settings goes in the record: the first offset receives the text
// (or the flag or number); for the scrambled main class the second receives the descrambled text.
struct SettingSlot {
    int Id;
    SettingKind Kind;
    size_t Offset;
    size_t SecondOffset;
    const char* Shipped;
};

#define SLOT_TEXT(f) offsetof(LauncherSettingsData, f), 0
#define SLOT_BUILT(f) offsetof(LauncherSettingsData, f), 0
#define SLOT_MESSAGE(f) offsetof(LauncherSettingsData, f), 0
#define SLOT_FLAG(f) offsetof(LauncherSettingsData, f), 0
#define SLOT_INT(f) offsetof(LauncherSettingsData, f), 0
#define SLOT_VERSION(f) offsetof(LauncherSettingsData, f), 0
#define SLOT_SCRAMBLED(f) offsetof(LauncherSettingsData, Scrambled##f), offsetof(LauncherSettingsData, f)

static const SettingSlot SettingSlots[] = {
#define SETTING(id, field, kind, value, ...) {id, SETTING_##kind, SLOT_##kind(field), value},
#include "settings.def"
#undef SETTING
};

// A field of the wrong type for its kind is a compile error.
#define SAME_TYPE(a, b) static_assert(std::is_same<decltype(LauncherSettingsData::a), b>::value, #a)
#define CHECK_TEXT(f) SAME_TYPE(f, char*);
#define CHECK_BUILT(f) SAME_TYPE(f, char*);
#define CHECK_MESSAGE(f) SAME_TYPE(f, char*);
#define CHECK_FLAG(f) SAME_TYPE(f, bool);
#define CHECK_INT(f) SAME_TYPE(f, int);
#define CHECK_VERSION(f) SAME_TYPE(f, char*);
#define CHECK_SCRAMBLED(f) SAME_TYPE(f, char*); SAME_TYPE(Scrambled##f, char*);
#define SETTING(id, field, kind, value, ...) CHECK_##kind(field)
#include "settings.def"
#undef SETTING

// The priority classes, indexed by ProcessPriority.
static const DWORD PriorityClasses[6] = {REALTIME_PRIORITY_CLASS, HIGH_PRIORITY_CLASS,
                                         ABOVE_NORMAL_PRIORITY_CLASS, NORMAL_PRIORITY_CLASS,
                                         BELOW_NORMAL_PRIORITY_CLASS, IDLE_PRIORITY_CLASS};

static char* CopyOrEmpty(const char* text)
{
    size_t length = strlen(text);
    char* copy = (char*)malloc(length + 1);
    if (copy == NULL)
        return NoMemoryText;
    memcpy(copy, text, length + 1);
    return copy;
}

void FreeSettingText(char* text)
{
    if (text != NoMemoryText)
        free(text);
}

char* LoadSettingText(HMODULE module, int id)
{
    if (module == NULL)
        module = GetModuleHandleA(NULL);
    int capacity = 1024;
    char* buffer = (char*)malloc((size_t)capacity);
    if (buffer == NULL)
        return NoMemoryText;
    for (;;) {
        int length = LoadStringA(module, (UINT)id, buffer, capacity);
        if (length < capacity - 1) {
            if (length <= 0)
                buffer[0] = 0;
            break;
        }
        // The entry may have been cut: read it again with 1024 more characters of room.
        char* larger = (char*)realloc(buffer, (size_t)capacity + 1024);
        if (larger == NULL)
            break;
        buffer = larger;
        capacity += 1024;
    }
    char* text = CopyOrEmpty(buffer);
    free(buffer);
    return text;
}

// Writes the report mark and the four upper-case hex digits of unit at out (no NUL); 5.
static size_t FormatMarkedUnit(char* out, WCHAR unit)
{
    static const char digits[] = "0123456789ABCDEF";
    out[0] = REPORT_UNIT_MARK;
    for (int i = 0; i < 4; i++)
        out[1 + i] = digits[(unit >> (12 - 4 * i)) & 0xF];
    return 5;
}

// Appends to out the ANSI form of one UTF-16 unit: its bytes when the code page holds it exactly,
// else the report mark and its four hex digits. The number of bytes written (out has room for 5; a
// longer form, which no code page gives one unit, is marked instead).
static size_t AppendReportUnit(WCHAR unit, char* out)
{
    if (unit < 0x80 && unit != REPORT_UNIT_MARK) {
        out[0] = (char)unit;
        return 1;
    }
    WCHAR one[2] = {unit, 0};
    char* narrow = unit >= 0x80 ? NarrowExactly(one) : NULL;
    size_t length = narrow != NULL ? strlen(narrow) : 0;
    if (length > 0 && length <= 5)
        memcpy(out, narrow, length);
    else
        length = FormatMarkedUnit(out, unit);
    free(narrow);
    return length;
}

// A message entry of the string table of module (null: the executable) as report text: read as the
// UTF-16 it is stored in, so that its characters outside the ANSI code page reach the screen and the
// event log. Never null; a missing entry gives an empty text.
static char* LoadMessageSetting(HMODULE module, int id)
{
    const WCHAR* stored = NULL;
    // With no buffer the call gives the entry in place, not NUL-terminated.
    int length = LoadStringW(module != NULL ? module : GetModuleHandleA(NULL), (UINT)id, (LPWSTR)&stored, 0);
    char* text = length > 0 && stored != NULL ? (char*)malloc((size_t)length * 5 + 1) : NULL;
    if (text == NULL)
        return CopyOrEmpty("");
    size_t used = 0;
    for (int i = 0; i < length; i++)
        used += AppendReportUnit(stored[i], text + used);
    text[used] = 0;
    return text;
}

bool ParseSettingFlag(const char* text)
{
    return text[0] != '0';
}

bool ApplyProcessPriority(int index)
{
    if ((unsigned)index > 5)
        return false;
    SetPriorityClass(GetCurrentProcess(), PriorityClasses[index]);
    return true;
}

// A message text that could read more arguments than the launcher passes with it (as many "%s" as
// the shipped text has) or holds other conversions is made to show itself literally instead.
static char* SafeMessageText(char* text, const char* shipped)
{
    if (IsSafeMessageFormat(text, CountMessageArguments(shipped)))
        return text;
    size_t size = 2 * strlen(text) + 1;
    char* escaped = (char*)malloc(size);
    if (escaped == NULL || !EscapeMessageFormat(text, escaped, size)) {
        free(escaped);
        escaped = CopyOrEmpty(shipped);
    }
    FreeSettingText(text);
    return escaped;
}

char* LoadMessageText(int id)
{
    const SettingInfo* info = FindSettingById(id);
    return SafeMessageText(LoadMessageSetting(NULL, id), info != NULL ? info->Shipped : "");
}

// Stores one entry of the string table into the record according to its kind.
static void LoadSetting(HMODULE module, const SettingSlot& slot)
{
    char* base = (char*)&LauncherSettings;
    char* text = slot.Kind == SETTING_MESSAGE ? LoadMessageSetting(module, slot.Id) : LoadSettingText(module, slot.Id);
    switch (slot.Kind) {
    case SETTING_FLAG:
        *(bool*)(base + slot.Offset) = ParseSettingFlag(text);
        FreeSettingText(text);
        break;
    case SETTING_INT:
        *(int*)(base + slot.Offset) = atoi(text);
        FreeSettingText(text);
        break;
    case SETTING_SCRAMBLED:
        *(char**)(base + slot.Offset) = text;
        *(char**)(base + slot.SecondOffset) = CopyOrEmpty(DescrambleText(text));
        break;
    case SETTING_MESSAGE:
        *(char**)(base + slot.Offset) = SafeMessageText(text, slot.Shipped);
        break;
    case SETTING_TEXT:
    case SETTING_VERSION:
    case SETTING_BUILT:
        *(char**)(base + slot.Offset) = text;
        break;
    }
}

// A value of the INI file's "Application Configuration" section, read whole however long;
// null when the key is absent or its value empty.
static char* ReadIniValue(const char* path, const char* key)
{
    DWORD capacity = 1024;
    char* buffer = (char*)malloc(capacity);
    if (buffer == NULL)
        return NULL;
    for (;;) {
        DWORD length = GetPrivateProfileStringA("Application Configuration", key, "", buffer, capacity, path);
        if (length == 0) {
            free(buffer);
            return NULL;
        }
        if (length < capacity - 1)
            return buffer;
        // Cut to fit: read again with more room rather than lose the end of the value.
        char* larger = (char*)realloc(buffer, (size_t)capacity * 2);
        if (larger == NULL)
            return buffer;
        buffer = larger;
        capacity *= 2;
    }
}

// Replaces JvmOptions and AppOptions by the INI file's values where it has non-empty ones.
// False when the INI file cannot be opened.
static bool ApplyIniFile()
{
    FILE* file = fopen(LauncherSettings.IniFileName, "r");
    if (file == NULL) {
        LaunchLog("INI file %s: not found, the built-in values stay", LauncherSettings.IniFileName);
        return false;
    }
    fclose(file);
    WCHAR wideDirectory[MAX_PATH + 1];
    char path[MAX_PATH + 1];
    const char* name = LauncherSettings.IniFileName;
    bool absolute = IsAbsolutePath(name);
    DWORD length = absolute ? 0 : GetCurrentDirectoryW(MAX_PATH + 1, wideDirectory);
    // A path that does not fit (or that the code page cannot carry) is not used: the compiled values stay.
    char* directory = length == 0 || length > MAX_PATH ? NULL : MakeAnsiPath(wideDirectory);
    bool fits = absolute ? CopyText(path, sizeof(path), name)
                         : directory != NULL && FormatText(path, sizeof(path), "%s\\%s", directory, name);
    free(directory);
    if (!fits) {
        LaunchLog("INI file %s: its full path is too long, the built-in values stay", name);
        return true;
    }
    char* value = ReadIniValue(path, "JvmOptions");
    LaunchLog("INI file %s: JvmOptions %s", path, value != NULL ? "from it (listed with the JVM options)" : "built in");
    if (value != NULL) {
        FreeSettingText(LauncherSettings.JvmOptions);
        LauncherSettings.JvmOptions = value;
    }
    value = ReadIniValue(path, "AppOptions");
    LaunchLog("INI file %s: AppOptions %s%s", path, value != NULL ? "from it: " : "built in", value != NULL ? value : "");
    if (value != NULL) {
        FreeSettingText(LauncherSettings.AppOptions);
        LauncherSettings.AppOptions = value;
    }
    return true;
}

// Logs every setting but the messages with its built-in value; JvmOptions is shown option by option
// when the JVM starts, where a secret's value is hidden.
static void LogBuiltInSettings()
{
    const char* base = (const char*)&LauncherSettings;
    for (int i = 0; i < SettingCount && LaunchLogFile != NULL; i++) {
        const SettingSlot& slot = SettingSlots[i];
        const char* field = SettingTable[i].Field;
        if (slot.Kind == SETTING_FLAG || slot.Kind == SETTING_INT)
            LaunchLog("setting %s = %d (built in)", field,
                      slot.Kind == SETTING_FLAG ? (int)*(const bool*)(base + slot.Offset) : *(const int*)(base + slot.Offset));
        else if (slot.Kind == SETTING_SCRAMBLED)
            LaunchLog("setting %s = %s (built in)", field, *(char* const*)(base + slot.SecondOffset));
        else if (slot.Kind != SETTING_MESSAGE && strcmp(field, "JvmOptions") != 0)
            LaunchLog("setting %s = %s (built in)", field, *(char* const*)(base + slot.Offset));
    }
}

void LoadSettingsRecord(HMODULE module)
{
    for (const SettingSlot& slot : SettingSlots)
        LoadSetting(module, slot);
}

void LoadLauncherSettings()
{
    LoadSettingsRecord(NULL);
    LogBuiltInSettings();
    ApplyProcessPriority(LauncherSettings.ProcessPriority);
    // The main class is held in the form class lookups and the instance mutex use: a/b/Main.
    for (char* p = LauncherSettings.MainClass; *p; p++)
        if (*p == '.')
            *p = '/';
    // The INI file is optional: without it the compiled values stay, and the embedded files are
    // extracted either way.
    if (LauncherSettings.IniFileName[0] != 0)
        ApplyIniFile();
    ExtractEmbeddedFiles();
}
