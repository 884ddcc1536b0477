#include "jvm.h"

#include "arguments.h"
#include "expand.h"
#include "format.h"
#include "growable.h"
#include "jre.h"
#include "report.h"
#include "settings.h"

#include <stdlib.h>
#include <string.h>

int GetPathKind(const char* entry)
{
    if (strchr(entry, '%') != NULL)
        return 0;
    DWORD attributes = GetFileAttributesA(entry);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return -1;
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? 1 : 0;
}

// True when name ends in ".jar", or (unless jarsOnly) ".zip", in any case.
static bool IsArchiveName(const char* name, bool jarsOnly)
{
    size_t length = strlen(name);
    return length >= 4 && (_stricmp(name + length - 4, ".jar") == 0 ||
                           (!jarsOnly && _stricmp(name + length - 4, ".zip") == 0));
}

// Reports that memory ran out; returns false.
static bool ReportNoMemory()
{
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    ShowLastError();
    return false;
}

static bool AddArchivesInDirectory(GrowableString* classPath, const char* directory, bool jarsOnly = false);

// Handles one listed entry of directory: a subdirectory is scanned, an archive appended; with jarsOnly
// (a "DIR\*" entry, as java -cp reads it) only the .jar files of the directory itself count.
static bool AddListedEntry(GrowableString* classPath, const char* directory, const WIN32_FIND_DATAA& found,
                           bool jarsOnly)
{
    const char* name = found.cFileName;
    bool isDirectory = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (isDirectory && (jarsOnly || strcmp(name, ".") == 0 || strcmp(name, "..") == 0))
        return true;
    if (!isDirectory && !IsArchiveName(name, jarsOnly))
        return true;
    GrowableString path = {};
    bool ok = AppendText(&path, directory) && AppendText(&path, "\\") && AppendText(&path, name);
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
    bool ok = scanned != NULL;
    WIN32_FIND_DATAA found;
    HANDLE search = ok ? FindFirstFileA(pattern.text, &found) : INVALID_HANDLE_VALUE;
    if (!ok) {
        ReportNoMemory();
    } else if (search == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        ok = error == ERROR_FILE_NOT_FOUND || error == ERROR_NO_MORE_FILES;
        if (!ok)
            ShowErrorWithReason("Internal error RC000001");
    } else {
        while (ok && (ok = AddListedEntry(classPath, scanned, found, jarsOnly))) {
            if (!FindNextFileA(search, &found)) {
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

// Appends the class path entries of ClassPath, each existing directory followed by its archives.
static bool CollectClassPath(GrowableString* classPath)
{
    char* cursor = NULL;
    for (char* entry = NextToken(LauncherSettings.ClassPath, ";", &cursor); entry != NULL;
         entry = NextToken(LauncherSettings.ClassPath, ";", &cursor)) {
        size_t length = strlen(entry);
        if (length >= 2 && entry[length - 1] == '*' && (entry[length - 2] == '\\' || entry[length - 2] == '/')) {
            // The JVM itself reads "lib\*" literally: the launcher does what java -cp does with it.
            entry[length - 1] = 0;
            if (!AddArchivesInDirectory(classPath, entry, true))
                return false;
            continue;
        }
        int kind = GetPathKind(entry);
        if (!AppendText(classPath, entry) || !AppendText(classPath, ";"))
            return ReportNoMemory();
        if (kind == 1 && !AddArchivesInDirectory(classPath, entry))
            return false;
    }
    return true;
}

static const char* LookUpEnvironment(const char* name)
{
    return getenv(name);
}

char* ExpandVariables(const char* text)
{
    return ExpandVariablesWith(text, FoundJavaHome, LookUpEnvironment);
}

// The current directory when the class path went to the JVM, against which it resolves relative
// entries; empty when it did not fit.
static char ClassPathDirectory[MAX_PATH + 1];

// True when path exists, a relative one taken from ClassPathDirectory.
static bool ClassPathEntryExists(const char* path)
{
    char full[2 * MAX_PATH + 2]; // an entry too long to join is looked up as it is
    bool relative = path[0] != '\\' && !(path[0] != 0 && path[1] == ':');
    if (relative && ClassPathDirectory[0] != 0 && FormatText(full, sizeof(full), "%s\\%s", ClassPathDirectory, path))
        path = full;
    return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

bool DescribeClassPath(GrowableString* text)
{
    const char* option = NULL;
    for (const char* at = strstr(LauncherSettings.JvmOptions, "-Djava.class.path="); at != NULL;
         at = strstr(at + 1, "-Djava.class.path="))
        option = at + strlen("-Djava.class.path=");
    if (option == NULL)
        return AppendText(text, "The JVM was given no class path: it looks in its current directory.\r\n");
    bool ok = AppendText(text, "Class path given to the JVM:\r\n");
    while (ok && *option != 0 && *option != '"') {
        size_t length = strcspn(option, ";\"");
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

bool BuildClassPathOption()
{
    DWORD length = GetCurrentDirectoryA(sizeof(ClassPathDirectory), ClassPathDirectory);
    if (length == 0 || length >= sizeof(ClassPathDirectory))
        ClassPathDirectory[0] = 0;
    GrowableString options = {};
    GrowableString classPath = {};
    bool ok = AppendText(&options, LauncherSettings.JvmOptions) || ReportNoMemory();
    ok = ok && CollectClassPath(&classPath);
    if (ok && classPath.length > 0) {
        classPath.text[--classPath.length] = 0;
        ok = (AppendText(&options, " \"-Djava.class.path=") && AppendText(&options, classPath.text) &&
              AppendText(&options, "\"")) ||
             ReportNoMemory();
    }
    char* expanded = NULL;
    if (ok) {
        expanded = ExpandVariables(options.text != NULL ? options.text : "");
        ok = expanded != NULL || ReportNoMemory();
    }
    if (ok)
        LauncherSettings.JvmOptions = expanded;
    FreeGrowableString(&options);
    FreeGrowableString(&classPath);
    return ok;
}
