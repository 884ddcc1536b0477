#include "jvm.h"

#include "arguments.h"
#include "embedded.h"
#include "expand.h"
#include "format.h"
#include "growable.h"
#include "jre.h"
#include "machine_text.h"
#include "report.h"
#include "settings.h"

#include <stdlib.h>
#include <string.h>

int GetPathKind(const char* entry)
{
    DWORD attributes = GetFileAttributesA(entry);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return -1;
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? 1 : 0;
}

// True when name ends in ".jar", or (unless jarsOnly) ".zip", in any case.
static bool IsArchiveName(const WCHAR* name, bool jarsOnly)
{
    size_t length = wcslen(name);
    return length >= 4 && (_wcsicmp(name + length - 4, L".jar") == 0 ||
                           (!jarsOnly && _wcsicmp(name + length - 4, L".zip") == 0));
}

// Reports that memory ran out; returns false.
static bool ReportNoMemory()
{
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    ShowLastError();
    return false;
}

static bool AddArchivesInDirectory(GrowableString* classPath, const char* directory, bool jarsOnly = false);

// The name of a listed entry as the runtime can read it on the class path: its own name when the
// code page holds it, else its short name. Null after reporting the path when it has neither.
static char* ListedName(const char* directory, const WIN32_FIND_DATAW& found)
{
    char* name = NarrowExactly(found.cFileName);
    if (name == NULL && found.cAlternateFileName[0] != 0)
        name = NarrowExactly(found.cAlternateFileName);
    if (name == NULL) {
        char described[1024];
        char path[1400]; // a path too long to show whole is shown cut
        DescribeWideText(found.cFileName, described, sizeof(described));
        if (!FormatText(path, sizeof(path), "%s\\%s", directory, described))
            MarkTextCut(path, sizeof(path));
        ShowError(LauncherSettings.MsgPathCodePage, path);
    }
    return name;
}

// Handles one listed entry of directory: a subdirectory is scanned, an archive appended; with jarsOnly
// (a "DIR\*" entry, as java -cp reads it) only the .jar files of the directory itself count.
static bool AddListedEntry(GrowableString* classPath, const char* directory, const WIN32_FIND_DATAW& found,
                           bool jarsOnly)
{
    const WCHAR* wideName = found.cFileName;
    bool isDirectory = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (isDirectory && (jarsOnly || wcscmp(wideName, L".") == 0 || wcscmp(wideName, L"..") == 0))
        return true;
    if (!isDirectory && !IsArchiveName(wideName, jarsOnly))
        return true;
    char* name = ListedName(directory, found);
    if (name == NULL)
        return false;
    GrowableString path = {};
    bool ok = AppendText(&path, directory) && AppendText(&path, "\\") && AppendText(&path, name);
    free(name);
    if (!ok) {
        FreeGrowableString(&path);
        return ReportNoMemory();
    }
    if (isDirectory)
        ok = AddArchivesInDirectory(classPath, path.text);
    else if (!AppendText(classPath, path.text) || !AppendText(classPath, ";"))
        ok = ReportNoMemory();
    FreeGrowableString(&path);
    return ok;
}

// Appends the archives of directory and its subdirectories (only its own jars: jarsOnly), in listing order.
static bool AddArchivesInDirectory(GrowableString* classPath, const char* directory, bool jarsOnly)
{
    GrowableString pattern = {};
    size_t length = strlen(directory);
    // One trailing separator is dropped from the scanned name only.
    if (length > 0 && (directory[length - 1] == '\\' || directory[length - 1] == '/'))
        --length;
    if (!AppendTextPart(&pattern, directory, length) || !AppendText(&pattern, "\\*.*")) {
        FreeGrowableString(&pattern);
        return ReportNoMemory();
    }
    pattern.text[length] = 0;
    char* scanned = _strdup(pattern.text);
    pattern.text[length] = '\\';
    WCHAR* widePattern = WidenText(pattern.text);
    bool ok = scanned != NULL && widePattern != NULL;
    WIN32_FIND_DATAW found;
    HANDLE search = ok ? FindFirstFileW(widePattern, &found) : INVALID_HANDLE_VALUE;
    free(widePattern);
    if (!ok) {
        ReportNoMemory();
    } else if (search == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        ok = error == ERROR_FILE_NOT_FOUND || error == ERROR_NO_MORE_FILES;
        if (!ok)
            ShowErrorWithReason("Internal error RC000001");
    } else {
        while (ok && (ok = AddListedEntry(classPath, scanned, found, jarsOnly))) {
            if (!FindNextFileW(search, &found)) {
                ok = GetLastError() == ERROR_NO_MORE_FILES;
                if (!ok)
                    ShowErrorWithReason("Internal error RC000002");
                break;
            }
        }
        FindClose(search);
    }
    free(scanned);
    FreeGrowableString(&pattern);
    return ok;
}

// Appends the class path entries of ClassPath with its %NAME% references expanded, each existing
// directory followed by its archives, then the extracted files; the names found on the disk are
// taken as they are.
static bool CollectClassPath(GrowableString* classPath)
{
    char* configured = ExpandVariables(LauncherSettings.ClassPath);
    if (configured == NULL)
        return ReportNoMemory();
    bool ok = true;
    char* cursor = NULL;
    for (char* entry = NextToken(configured, ";", &cursor); ok && entry != NULL;
         entry = NextToken(configured, ";", &cursor)) {
        size_t length = strlen(entry);
        if (length >= 2 && entry[length - 1] == '*' && (entry[length - 2] == '\\' || entry[length - 2] == '/')) {
            // The JVM itself reads "lib\*" literally: the launcher does what java -cp does with it.
            entry[length - 1] = 0;
            ok = AddArchivesInDirectory(classPath, entry, true);
            continue;
        }
        int kind = GetPathKind(entry);
        ok = (AppendText(classPath, entry) && AppendText(classPath, ";")) || ReportNoMemory();
        ok = ok && (kind != 1 || AddArchivesInDirectory(classPath, entry));
    }
    free(configured);
    return ok && (AppendText(classPath, ExtractedClassPath) || ReportNoMemory());
}

// Set when a variable's value could not be put into the option text: the start then fails.
static bool VariableRefused = false;

// The value of an environment variable in the ANSI code page: a path the code page cannot carry is
// given by its short name. Held until the next lookup; null when the variable is not set.
static const char* LookUpEnvironment(const char* name)
{
    static char* value = NULL;
    free(value);
    value = NULL;
    WCHAR* wideName = WidenText(name);
    // The launcher's own folder is no environment variable: its name means the folder whatever the
    // environment holds.
    WCHAR* wide = NULL;
    DWORD size = 0, length = 0;
    if (strcmp(name, EXE_DIRECTORY_NAME) == 0) {
        wide = GetExeDirectory();
        length = wide != NULL ? (DWORD)wcslen(wide) : 0;
        size = length + 1;
    } else {
        size = wideName != NULL ? GetEnvironmentVariableW(wideName, NULL, 0) : 0;
        wide = size > 0 ? (WCHAR*)malloc((size_t)size * sizeof(WCHAR)) : NULL;
        length = wide != NULL ? GetEnvironmentVariableW(wideName, wide, size) : 0;
    }
    if (length > 0 && length < size) {
        // A quoted path is looked up without its quotes, which the expansion drops anyway.
        bool quoted = length >= 2 && wide[0] == '"' && wide[length - 1] == '"';
        if ((value = NarrowExactly(wide)) == NULL && quoted) {
            wide[length - 1] = 0;
            value = MakeAnsiPath(wide + 1);
        } else if (value == NULL) {
            value = MakeAnsiPath(wide);
        }
        if (value == NULL) {
            char described[1024];
            DescribeWideText(wide, described, sizeof(described));
            ShowError(LauncherSettings.MsgPathCodePage, described);
            VariableRefused = true;
        }
    }
    free(wide);
    free(wideName);
    return value;
}

char* ExpandVariables(const char* text)
{
    return ExpandVariablesWith(text, FoundJavaHome, LookUpEnvironment);
}

char** JvmOptionStrings = NULL;
int JvmOptionCount = 0;

// The current directory when the class path went to the JVM, against which it resolves relative
// entries; empty when it did not fit.
static WCHAR ClassPathDirectory[MAX_PATH + 1];

// True when path exists, a relative one taken from ClassPathDirectory.
static bool ClassPathEntryExists(const char* path)
{
    WCHAR* wide = WidenText(path);
    WCHAR full[2 * MAX_PATH + 2]; // an entry too long to join is looked up as it is
    bool relative = !IsAbsolutePath(path);
    const WCHAR* name = wide;
    if (wide != NULL && relative && ClassPathDirectory[0] != 0) {
        int n = _snwprintf(full, sizeof(full) / sizeof(full[0]), L"%ls\\%ls", ClassPathDirectory, wide);
        if (n >= 0 && n < (int)(sizeof(full) / sizeof(full[0])))
            name = full;
    }
    bool exists = name != NULL && GetFileAttributesW(name) != INVALID_FILE_ATTRIBUTES;
    free(wide);
    return exists;
}

bool DescribeClassPath(GrowableString* text)
{
    const char* option = NULL;
    for (int i = 0; i < JvmOptionCount; i++)
        if (strncmp(JvmOptionStrings[i], "-Djava.class.path=", strlen("-Djava.class.path=")) == 0)
            option = JvmOptionStrings[i] + strlen("-Djava.class.path=");
    if (option == NULL)
        return AppendText(text, "The JVM was given no class path: it looks in its current directory.\r\n");
    bool ok = AppendText(text, "Class path given to the JVM:\r\n");
    while (ok && *option != 0) {
        size_t length = strcspn(option, ";");
        char entry[MAX_PATH + 1]; // an entry too long to check is listed without a mark
        bool checked = length < sizeof(entry);
        if (checked) {
            memcpy(entry, option, length);
            entry[length] = 0;
        }
        ok = length == 0 || (AppendText(text, "  ") && AppendTextPart(text, option, length) &&
                             AppendText(text, checked && !ClassPathEntryExists(entry) ? "   (not found)\r\n" : "\r\n"));
        option += length + (option[length] == ';');
    }
    return ok;
}

// The class path option for the collected entries (their last ';' dropped); null when memory ran out.
static char* MakeClassPathOption(const GrowableString* classPath)
{
    GrowableString option = {};
    if (!AppendText(&option, "-Djava.class.path=") ||
        !AppendTextPart(&option, classPath->text, classPath->length - 1)) {
        FreeGrowableString(&option);
        return NULL;
    }
    return option.text;
}

// Frees the first count texts of options, and options.
static void FreeOptions(char** options, int count)
{
    for (int i = 0; options != NULL && i < count; i++)
        free(options[i]);
    free(options);
}

// JvmOptions (and ModuleOptions when modular) split, then each option expanded (a value with blanks
// stays inside its option), in a new array with room for one more; null after a report.
static char** ExpandOptions(bool modular, int* count)
{
    char** split = NULL;
    GrowableString text = {};
    if (!AppendText(&text, LauncherSettings.JvmOptions) ||
        (modular && (!AppendText(&text, " ") || !AppendText(&text, LauncherSettings.ModuleOptions)))) {
        FreeGrowableString(&text);
        ReportNoMemory();
        return NULL;
    }
    SplitArguments(text.text != NULL ? text.text : "", count, &split, false);
    FreeGrowableString(&text);
    char** options = (char**)calloc((size_t)*count + 1, sizeof(char*));
    bool ok = options != NULL || ReportNoMemory();
    for (int i = 0; i < *count; i++) {
        ok = ok && !VariableRefused && ((options[i] = ExpandVariables(split[i])) != NULL || ReportNoMemory());
        free(split[i]);
    }
    free(split);
    if (ok && !VariableRefused)
        return options;
    FreeOptions(options, *count);
    return NULL;
}

bool BuildClassPathOption(bool modular)
{
    DWORD length = GetCurrentDirectoryW(MAX_PATH + 1, ClassPathDirectory);
    if (length == 0 || length > MAX_PATH)
        ClassPathDirectory[0] = 0;
    VariableRefused = false;
    int count = 0;
    char** options = ExpandOptions(modular, &count);
    GrowableString classPath = {};
    bool ok = options != NULL && CollectClassPath(&classPath) && !VariableRefused;
    if (ok && classPath.length > 0)
        ok = (options[count++] = MakeClassPathOption(&classPath)) != NULL || ReportNoMemory();
    FreeGrowableString(&classPath);
    if (!ok) {
        FreeOptions(options, count);
        return false;
    }
    JvmOptionStrings = options;
    JvmOptionCount = count;
    return true;
}
