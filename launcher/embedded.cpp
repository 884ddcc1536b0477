#include "embedded.h"

#include "archive.h"
#include "entry.h"
#include "format.h"
#include "growable.h"
#include "launch_log.h"
#include "machine_text.h"
#include "private_folder.h"
#include "report.h"
#include "resource_ids.h"
#include "settings.h"

#include <stdlib.h>
#include <wchar.h>
#include <string.h>

int ExtractedFileCount = 0;
char* ExtractedClassPath = NULL;

// The executable's archive; false when there is none or it carries no files (at most one byte).
static bool FindEmbeddedArchive(const void** data, DWORD* size)
{
    HRSRC resource = FindResourceA(NULL, MAKEINTRESOURCEA(IDR_EMBEDDED_FILES), (LPCSTR)RT_RCDATA);
    if (resource == NULL)
        return false;
    *size = SizeofResource(NULL, resource);
    HGLOBAL loaded = LoadResource(NULL, resource);
    *data = loaded == NULL ? NULL : LockResource(loaded);
    return *size > 1 && *data != NULL;
}

// True when the text is an identity as the builder writes it: 16 upper-case hex digits.
static bool IsApplicationId(const char* id)
{
    size_t length = strspn(id, "0123456789ABCDEF");
    return length == APPLICATION_ID_LENGTH && id[length] == 0;
}

bool MakeApplicationName(char* name, size_t size, const char* id, const char* fallback)
{
    if (IsApplicationId(id))
        return FormatText(name, size, "kestrun-%s", id);
    return FormatText(name, size, "%s", fallback);
}

bool GetExtractionFolder(char* folder, const char* id, const char* scrambledMainClass,
                         const char* fileAccessFormat)
{
    char temp[MAX_PATH + 1];
    if (!GetPrivateBase(temp, fileAccessFormat))
        return false;
    char name[MAX_PATH]; // a name cut to fit still shows its start in the report below
    bool nameFits = MakeApplicationName(name, sizeof(name), id, scrambledMainClass);
    if (!FormatText(folder, MAX_PATH, "%s%s", temp, name) || !nameFits) {
        MarkTextCut(folder, MAX_PATH);
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        ShowErrorWithReason(fileAccessFormat, folder);
        return false;
    }
    return true;
}

// An entry's path in the folder; false when it does not fit MAX_PATH (such a path is never used).
static bool ComposeEntryPath(char* path, const char* folder, const char* name)
{
    return FormatText(path, MAX_PATH, "%s\\%s", folder, name);
}

// Reads every entry once before anything is written, so that a damaged archive or one unsafe name
// extracts nothing. False after reporting the first fault.
static bool CheckArchive(const void* data, DWORD size, const char* folder)
{
    ArchiveReader reader;
    uint32_t count = 0;
    if (!OpenArchive(&reader, data, size, &count)) {
        ShowError("Internal error RC000020: the embedded file archive is too short to hold its count.");
        return false;
    }
    ArchiveEntry entry;
    char path[MAX_PATH];
    for (uint32_t index = 1;; index++) {
        switch (ReadArchiveEntry(&reader, &entry)) {
        case ARCHIVE_END:
            return true;
        case ARCHIVE_TRUNCATED:
            ShowError("Internal error RC000020: embedded file %u of %u runs past the end of the archive.", index,
                      count);
            return false;
        case ARCHIVE_BAD_NAME:
            // The name is NUL-terminated inside the archive; only its start is shown.
            ShowError("Internal error RC000021: embedded file %u has a name that is not a plain file name: "
                      "\"%.120s\"", index, (const char*)reader.Pos);
            return false;
        case ARCHIVE_ENTRY:
            if (!ComposeEntryPath(path, folder, entry.Name)) {
                ShowError("Internal error RC000021: the path of embedded file %u is too long: %s\\%.120s", index,
                          folder, entry.Name);
                return false;
            }
            break;
        }
    }
}

// True when the file at path has the entry's size and last-write time; reads no contents.
static bool IsUpToDate(const char* path, const ArchiveEntry* entry)
{
    HANDLE file = CreateFileA(path, GENERIC_READ, 0, NULL, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    bool upToDate = false;
    BY_HANDLE_FILE_INFORMATION information;
    DWORD high = 0;
    SetLastError(NO_ERROR);
    DWORD low = GetFileSize(file, &high);
    if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) {
        ShowErrorWithReason("Internal error RC000006");
    } else if (high == 0 && low == entry->Size && GetFileInformationByHandle(file, &information) &&
               !(information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        FILETIME written;
        FILETIME stored = {entry->TimeLow, entry->TimeHigh};
        upToDate = GetFileTime(file, NULL, NULL, &written) && CompareFileTime(&written, &stored) == 0;
    }
    CloseHandle(file);
    return upToDate;
}

// Writes an entry straight from the archive in one call and gives it the stored last-write time.
// True when written, or left alone because a running instance holds it; false after a report.
static bool WriteEntry(const char* path, const ArchiveEntry* entry)
{
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        if (GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES) {
            LaunchLog("embedded file %s: skipped, held open by a running instance", entry->Name);
            return true;
        }
        SetLastError(error);
        ShowErrorWithReason(LauncherSettings.MsgFileWrite, path);
        return false;
    }
    DWORD written = 0;
    FILETIME stored = {entry->TimeLow, entry->TimeHigh};
    SetLastError(NO_ERROR);
    bool ok = WriteFile(file, entry->Data, entry->Size, &written, NULL) && written == entry->Size &&
              SetFileTime(file, NULL, NULL, &stored);
    DWORD error = GetLastError();
    CloseHandle(file);
    if (!ok) {
        // A short write that the system calls a success still needs a reason.
        SetLastError(error != NO_ERROR ? error : ERROR_HANDLE_DISK_FULL);
        ShowErrorWithReason(LauncherSettings.MsgFileWrite, path);
    }
    LaunchLog("embedded file %s: %s", entry->Name, ok ? "written" : "could not be written");
    return ok;
}

// Reports that memory ran out while the class path was being made.
static void ReportNoMemory()
{
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    ShowErrorWithReason("Internal error RC000022");
}

// Writes the entries that are not up to date and lists every entry's path in *list.
static bool WriteEntries(const void* data, DWORD size, const char* folder, GrowableString* list)
{
    ArchiveReader reader;
    uint32_t count = 0;
    OpenArchive(&reader, data, size, &count);
    ArchiveEntry entry;
    char path[MAX_PATH];
    while (NextArchiveEntry(&reader, &entry)) {
        // CheckArchive composed it before the folder got a suffix; one that no longer fits is not used.
        if (!ComposeEntryPath(path, folder, entry.Name)) {
            SetLastError(ERROR_FILENAME_EXCED_RANGE);
            ShowErrorWithReason(LauncherSettings.MsgFileWrite, folder);
            return false;
        }
        if (!AppendText(list, path) || !AppendText(list, ";")) {
            ReportNoMemory();
            return false;
        }
        bool upToDate = IsUpToDate(path, &entry);
        if (upToDate)
            LaunchLog("embedded file %s: skipped, up to date", entry.Name);
        else if (!WriteEntry(path, &entry))
            return false;
    }
    return true;
}

bool ExtractArchiveFiles(const void* data, DWORD size)
{
    if (data == NULL || size <= 1)
        return true;
    char folder[MAX_PATH];
    if (!GetExtractionFolder(folder, LauncherSettings.ApplicationId, LauncherSettings.ScrambledMainClass,
                             LauncherSettings.MsgFileAccess) ||
        !CheckArchive(data, size, folder))
        return false;
    uint32_t count = 0;
    ArchiveReader reader;
    OpenArchive(&reader, data, size, &count);
    ExtractedFileCount = (int)count;
    // An archive without entries makes no folder that nothing would ever remove.
    // The folder stays open until the process ends, so that it stays the one checked.
    HANDLE held = NULL;
    if (count > 0 && !UsePrivateFolder(folder, true, LauncherSettings.MsgFileAccess, &held))
        return false;
    LaunchLog("embedded files: %u, in %s", (unsigned)count, folder);
    GrowableString list = {};
    if (!WriteEntries(data, size, folder, &list)) {
        FreeGrowableString(&list);
        return false;
    }
    ExtractedClassPath = list.text;
    return true;
}

void ExtractEmbeddedFiles()
{
    const void* data;
    DWORD size;
    if (FindEmbeddedArchive(&data, &size))
        ExtractArchiveFiles(data, size);
}

// Starts the cleanup child for this process.
static void LaunchCleanupChild()
{
    WCHAR exe[MAX_PATH];
    WCHAR commandLine[MAX_PATH + 64];
    DWORD length = GetModuleFileNameW(NULL, exe, MAX_PATH);
    // A cut module name (the call returns the buffer size then) would start some other program.
    int n = length == 0 || length >= MAX_PATH ? -1
            : _snwprintf(commandLine, MAX_PATH + 64, L"\"%ls\" %ls %lu", exe, CLEANUP_SWITCH_WIDE,
                         (unsigned long)GetCurrentProcessId());
    if (n < 0 || n >= MAX_PATH + 64)
        return;
    STARTUPINFOW startup;
    memset(&startup, 0, sizeof(startup));
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process;
    // No handles are inherited: the child needs none, and an inherited pipe or file of the parent's
    // would outlive the parent in it.
    if (CreateProcessW(exe, commandLine, NULL, NULL, FALSE,
                       DETACHED_PROCESS | CREATE_NO_WINDOW | CREATE_DEFAULT_ERROR_MODE, NULL, NULL, &startup,
                       &process)) {
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
}

void StartCleanupChild()
{
    // An exit hook and the thread that returns from the run may both get here, and either may end the
    // process next: the second waits until the first has made the child, never ending it meanwhile.
    static SRWLOCK guard = SRWLOCK_INIT;
    static bool started = false;
    AcquireSRWLockExclusive(&guard);
    if (!started && ExtractedFileCount > 0 && LauncherSettings.RemoveExtractedFiles) {
        started = true;
        LaunchCleanupChild();
    }
    ReleaseSRWLockExclusive(&guard);
}

void RunCleanupChild(unsigned long parentId)
{
    HANDLE parent = OpenProcess(SYNCHRONIZE, FALSE, (DWORD)parentId);
    if (parent != NULL) {
        WaitForSingleObject(parent, 5000);
        CloseHandle(parent);
    }
    const void* data;
    DWORD size;
    if (!FindEmbeddedArchive(&data, &size))
        return;
    char* format = LoadMessageText(SETTING_ID_FILE_ACCESS);
    char* id = LoadSettingText(NULL, SETTING_ID_APPLICATION_ID);
    char* stored = LoadSettingText(NULL, SETTING_ID_MAIN_CLASS);
    char folder[MAX_PATH];
    HANDLE held = NULL;
    // Only a folder that the extraction would have used is emptied; this hidden process shows no
    // report about someone else's.
    bool found = GetExtractionFolder(folder, id, stored, format) && UsePrivateFolder(folder, false, NULL, &held);
    FreeSettingText(format);
    FreeSettingText(id);
    FreeSettingText(stored);
    if (!found)
        return;
    ArchiveReader reader;
    uint32_t count = 0;
    OpenArchive(&reader, data, size, &count);
    ArchiveEntry entry;
    char path[MAX_PATH];
    // Only entries the reader accepts are deleted: a damaged one ends the walk, so no name can reach
    // outside the folder.
    while (NextArchiveEntry(&reader, &entry))
        if (ComposeEntryPath(path, folder, entry.Name))
            DeleteFileA(path);  // removes a link itself, never what it names
    CloseHandle(held);
    RemoveDirectoryA(folder);
}
