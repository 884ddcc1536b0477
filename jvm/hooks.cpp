#include "jvm.h"

#include "embedded.h"
#include "capture.h"
#include "entry.h"
#include "launch_log.h"
#include "handover.h"
#include "report.h"
#include "service.h"
#include "settings.h"

#include <stdlib.h>
#include <string.h>

// The runtime's C library, as the vfprintf hook writes through it: ucrt's printing function takes
// options and a locale, the older libraries' vfprintf does not.
typedef int(__cdecl* UcrtVfprintfEntry)(unsigned long long options, FILE* stream, const char* format, void* locale,
                                        va_list args);
typedef int(__cdecl* PlainVfprintfEntry)(FILE* stream, const char* format, va_list args);
typedef FILE*(__cdecl* UcrtStreamEntry)(unsigned index);
typedef void*(__cdecl* OldStreamsEntry)(void);
static UcrtVfprintfEntry RuntimeUcrtVfprintf = NULL;
static PlainVfprintfEntry RuntimePlainVfprintf = NULL;
// The runtime's own stdout and stderr; null while unknown.
static FILE* RuntimeStdout = NULL;
static FILE* RuntimeStderr = NULL;

// The FILE of msvcrt.dll and msvcr100/120.dll, whose standard streams are the first entries of an array.
struct OldCFile {
    char* Next;
    int Count;
    char* Base;
    int Flags;
    int Descriptor;
    int Held;
    int BufferSize;
    char* TemporaryName;
};

// The last JVM text that went to the standard streams, trimmed by whole lines from the front, and
// its length; guarded by JvmTextLock (the hook is called from several threads at once).
static char JvmText[JVM_TEXT_SIZE];
static int JvmTextLength = 0;
static SRWLOCK JvmTextLock = SRWLOCK_INIT;

// True for the names of the universal C runtime: ucrtbase itself and its API sets.
static bool IsUcrtName(const char* name)
{
    return _strnicmp(name, "api-ms-win-crt-", 15) == 0 || _stricmp(name, "ucrtbase.dll") == 0;
}

int ChooseRuntimeCLibrary(const char* const* names, int count)
{
    int best = -1, bestRank = 0;
    for (int i = 0; i < count; i++) {
        const char* name = names[i];
        int rank = 0;
        if (IsUcrtName(name))
            rank = 4;
        else if (_stricmp(name, "msvcr120.dll") == 0)
            rank = 3;
        else if (_stricmp(name, "msvcr100.dll") == 0)
            rank = 2;
        else if (_stricmp(name, "msvcrt.dll") == 0)
            rank = 1;
        if (rank > bestRank) {
            best = i;
            bestRank = rank;
        }
    }
    return best;
}

// Collects up to size names of the DLLs that the loaded module imports; returns how many.
static int ReadImportNames(HMODULE module, const char** names, int size)
{
    const BYTE* base = (const BYTE*)module;
    const IMAGE_DOS_HEADER* dos = (const IMAGE_DOS_HEADER*)base;
    if (dos->e_magic != IMAGE_DOS_SIGNATURE)
        return 0;
    const IMAGE_NT_HEADERS* nt = (const IMAGE_NT_HEADERS*)(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY* directory = &nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (nt->Signature != IMAGE_NT_SIGNATURE || directory->VirtualAddress == 0)
        return 0;
    const IMAGE_IMPORT_DESCRIPTOR* entry = (const IMAGE_IMPORT_DESCRIPTOR*)(base + directory->VirtualAddress);
    int count = 0;
    for (; entry->Name != 0 && count < size; entry++)
        names[count++] = (const char*)(base + entry->Name);
    return count;
}

// Takes the printing function and the standard streams from the C library loaded as name.
static bool BindCLibrary(const char* name)
{
    HMODULE library = GetModuleHandleA(name);
    bool ucrt = IsUcrtName(name);
    if (ucrt) {
        // The API-set name stands for ucrtbase, which holds the functions.
        HMODULE base = GetModuleHandleA("ucrtbase.dll");
        library = base != NULL ? base : library;
    }
    if (library == NULL)
        return false;
    if (ucrt) {
        RuntimeUcrtVfprintf = (UcrtVfprintfEntry)(void*)GetProcAddress(library, "__stdio_common_vfprintf");
        UcrtStreamEntry streams = (UcrtStreamEntry)(void*)GetProcAddress(library, "__acrt_iob_func");
        if (RuntimeUcrtVfprintf == NULL || streams == NULL)
            return false;
        RuntimeStdout = streams(1);
        RuntimeStderr = streams(2);
        return true;
    }
    RuntimePlainVfprintf = (PlainVfprintfEntry)(void*)GetProcAddress(library, "vfprintf");
    OldStreamsEntry streams = (OldStreamsEntry)(void*)GetProcAddress(library, "__iob_func");
    if (RuntimePlainVfprintf == NULL || streams == NULL)
        return false;
    OldCFile* table = (OldCFile*)streams();
    RuntimeStdout = (FILE*)&table[1];
    RuntimeStderr = (FILE*)&table[2];
    return true;
}

bool BindRuntimeOutput(HMODULE jvm)
{
    const char* names[64]; // a module importing more DLLs is judged by its first 64
    int count = ReadImportNames(jvm, names, 64);
    int chosen = ChooseRuntimeCLibrary(names, count);
    if (chosen >= 0 && BindCLibrary(names[chosen]))
        return true;
    RuntimeUcrtVfprintf = NULL;
    RuntimePlainVfprintf = NULL;
    RuntimeStdout = RuntimeStderr = NULL;
    return false;
}

// Adds the text of one call to JvmText: a piece longer than JvmText keeps its end; otherwise whole
// lines are dropped from the front until it fits, as in the captured output.
static void KeepJvmText(const char* piece, int length)
{
    if (length > JVM_TEXT_SIZE - 1) {
        piece += length - (JVM_TEXT_SIZE - 1);
        length = JVM_TEXT_SIZE - 1;
    }
    if (length > 0)
        AddCapturedPiece(JvmText, &JvmTextLength, JVM_TEXT_SIZE, piece, length);
}

// Formats one call and keeps it: in a scratch buffer, or on the heap when it is longer (a piece that
// cannot be formatted or has no memory is dropped).
static void KeepFormattedJvmText(const char* format, va_list args)
{
    static char scratch[4096]; // used under the lock only
    va_list measure, again;
    va_copy(measure, args);
    va_copy(again, args);
    AcquireSRWLockExclusive(&JvmTextLock);
    int length = _vsnprintf(scratch, sizeof(scratch), format, args);
    if (length >= 0 && length < (int)sizeof(scratch)) {
        KeepJvmText(scratch, length);
    } else {
        length = _vscprintf(format, measure);
        char* piece = length >= 0 ? (char*)malloc((size_t)length + 1) : NULL;
        if (piece != NULL && _vsnprintf(piece, (size_t)length + 1, format, again) == length)
            KeepJvmText(piece, length);
        free(piece);
    }
    ReleaseSRWLockExclusive(&JvmTextLock);
    va_end(again);
    va_end(measure);
}

jint JNICALL JvmVfprintfHook(FILE* stream, const char* format, va_list args)
{
    bool standard = RuntimeStdout == NULL || stream == RuntimeStdout || stream == RuntimeStderr;
    if (standard) {
        va_list copy;
        va_copy(copy, args);
        KeepFormattedJvmText(format, copy);
        va_end(copy);
    }
    // Without the runtime's own C library its FILE cannot be written: the text is only kept.
    if (RuntimeUcrtVfprintf != NULL)
        return RuntimeUcrtVfprintf(0, stream, format, NULL, args);
    if (RuntimePlainVfprintf != NULL)
        return RuntimePlainVfprintf(stream, format, args);
    return 0;
}

char* TakeJvmMessageText()
{
    AcquireSRWLockExclusive(&JvmTextLock);
    char* text = JvmTextLength > 0 ? _strdup(JvmText) : NULL;
    JvmTextLength = 0;
    JvmText[0] = 0;
    ReleaseSRWLockExclusive(&JvmTextLock);
    return text;
}

// What the exit and abort hooks do before the process ends: finish the stream files, show the JVM's
// text when the program failed, let another instance start, finish the service handshake, start the
// cleanup child (not before a restart: the new process uses the extracted files).
static void PrepareProcessEnd(bool failed, bool restarting)
{
    // The process ends without returning here: a stream file gets what its pipe holds first.
    StopOutputCapture();
    char* text = TakeJvmMessageText();
    if (text != NULL && failed)
        ShowError("%s", text);
    free(text);
    if (RunMode != RUN_MODE_SERVICE && SingleInstanceMutex != NULL) {
        CloseHandle(SingleInstanceMutex);
        SingleInstanceMutex = NULL;
    }
    // Whatever the worker or a stop made of the run so far, the stopped status is reported first.
    if (RunMode == RUN_MODE_SERVICE && ServiceDoneEvent != NULL) {
        SetEvent(ServiceDoneEvent);
        while (InterlockedCompareExchange(&ServiceStopReported, 0, 0) == 0)
            Sleep(100);
    }
    if (!restarting)
        StartCleanupChild();
}

void JNICALL JvmExitHook(jint status)
{
    InterlockedExchange(&ServiceExitStatus, status);
    LaunchLog("System.exit(%ld): the process ends with exit code %ld", (long)status, (long)status);
    bool restart = IsRestartRequest(status);
    // A program that ends with status 0 ended normally, whatever the JVM printed on the way; one that
    // asks for a restart did too.
    PrepareProcessEnd(status != 0 && !restart, restart);
    // The new process starts once the lock is let go, and waits for this one to end.
    if (restart && StartRestartedProcess())
        status = 0;
    else if (restart)
        StartCleanupChild();
    exit(status);
}

void JNICALL JvmAbortHook(void)
{
    // The status abort() ends the process with.
    InterlockedExchange(&ServiceExitStatus, 3);
    LaunchLog("the JVM aborted: the process ends with exit code 3");
    PrepareProcessEnd(true, false);
    abort();
}
