#include "launch_log.h"

#include "format.h"
#include "machine_text.h"
#include "entry.h"
#include "settings.h"
#include "settings_table.h"

#include <ctype.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#ifdef _WIN64
#define LAUNCHER_ARCHITECTURE "x64"
#else
#define LAUNCHER_ARCHITECTURE "x86"
#endif

HANDLE LaunchLogFile = NULL;

// Tenths of a millisecond from the process's creation to the opening of the log, and the performance
// counter then and its frequency: a line's time is that offset plus the counter's advance since.
static unsigned long long TenthsAtOpen = 0;
static LARGE_INTEGER CounterAtOpen, CounterFrequency;

// Room of a line on the stack; a longer one is formatted on the heap.
#define LOG_LINE_SIZE 1024
// Room of a log file name, after expansion, in characters; a longer one leaves the log off.
#define LOG_NAME_SIZE 1024

char* MakeUtf8Text(const WCHAR* text)
{
    int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, NULL, 0, NULL, NULL);
    char* utf8 = size > 0 ? (char*)malloc((size_t)size) : NULL;
    if (utf8 != NULL && WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, size, NULL, NULL) != size) {
        free(utf8);
        return NULL;
    }
    return utf8;
}

// True when text starts with word (lower case), in any case.
static bool StartsWithFolded(const char* text, const char* word)
{
    for (; *word != 0; text++, word++)
        if (tolower((unsigned char)*text) != *word)
            return false;
    return true;
}

size_t ShownOptionLength(const char* option)
{
    size_t length = strlen(option);
    const char* equals = strchr(option, '=');
    if (strncmp(option, "-D", 2) != 0 || equals == NULL)
        return length;
    // Neither word holds '=', so a match never runs past the name.
    for (const char* p = option + 2; p < equals; p++)
        if (StartsWithFolded(p, "password") || StartsWithFolded(p, "secret"))
            return (size_t)(equals - option) + 1;
    return length;
}

// Writes bytes to the log as they are: one WriteFile, which the system has taken when it returns.
static void WriteLogBytes(const char* bytes, size_t length)
{
    HANDLE target = LaunchLogFile == INVALID_HANDLE_VALUE ? GetStdHandle(STD_ERROR_HANDLE) : LaunchLogFile;
    DWORD written = 0;
    if (target != NULL && target != INVALID_HANDLE_VALUE)
        WriteFile(target, bytes, (DWORD)length, &written, NULL);
}

// The time prefix of a line: milliseconds since the process started, with tenths.
static void FormatElapsed(char* prefix, size_t size)
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    unsigned long long tenths =
        TenthsAtOpen + (unsigned long long)(now.QuadPart - CounterAtOpen.QuadPart) * 10000 / CounterFrequency.QuadPart;
    unsigned long long ms = tenths / 10;
    // The system runtime's printf has no portable 64-bit conversion: the milliseconds go in two parts.
    if (ms >= 1000000000ULL)
        FormatText(prefix, size, "%lu%09lu.%lu ", (unsigned long)(ms / 1000000000ULL),
                   (unsigned long)(ms % 1000000000ULL), (unsigned long)(tenths % 10));
    else
        FormatText(prefix, size, "%7lu.%lu ", (unsigned long)ms, (unsigned long)(tenths % 10));
}

// Formats one line (time, text, CR LF) and writes it whole.
static void WriteLogLine(const char* format, va_list args)
{
    char line[LOG_LINE_SIZE];
    FormatElapsed(line, 32); // the time takes at most 22 characters

    size_t prefix = strlen(line);
    va_list counted;
    va_copy(counted, args);
    int length = _vscprintf(format, counted);
    va_end(counted);
    char* text = line;
    size_t size = sizeof(line);
    if (length >= 0 && prefix + (size_t)length + 3 > sizeof(line)) {
        // A line longer than the stack buffer (a long class path) goes whole from the heap; without
        // memory it is written cut, marked "...".
        char* larger = (char*)malloc(prefix + (size_t)length + 3);
        if (larger != NULL) {
            memcpy(larger, line, prefix);
            text = larger;
            size = prefix + (size_t)length + 3;
        }
    }
    if (!FormatTextV(text + prefix, size - prefix - 2, format, args))
        MarkTextCut(text + prefix, size - prefix - 2);
    size_t end = strlen(text);
    memcpy(text + end, "\r\n", 2);
    WriteLogBytes(text, end + 2);
    if (text != line)
        free(text);
}

void LaunchLog(const char* format, ...)
{
    if (LaunchLogFile == NULL)
        return;
    // A line logged between a failed call and its report keeps the reason for the report.
    DWORD error = GetLastError();
    va_list args;
    va_start(args, format);
    WriteLogLine(format, args);
    va_end(args);
    SetLastError(error);
}

void LaunchLogLines(const char* prefix, const char* text)
{
    while (LaunchLogFile != NULL && *text != 0) {
        size_t length = strcspn(text, "\r\n");
        LaunchLog("%s%.*s", prefix, (int)length, text);
        text += length;
        text += *text == '\r' ? 1 : 0;
        text += *text == '\n' ? 1 : 0;
    }
}

// The log's file name (LOG_NAME_SIZE characters): KESTRUN_LOG, else the LaunchLog setting expanded
// and, when relative, put beside the executable. False when neither names one, or the name does not fit.
static bool FindLogName(WCHAR* name, const char** source)
{
    *source = "the KESTRUN_LOG environment variable";
    DWORD length = GetEnvironmentVariableW(L"KESTRUN_LOG", name, LOG_NAME_SIZE);
    if (length > 0)
        return length < LOG_NAME_SIZE;
    *source = "the LaunchLog setting";
    char* setting = LoadSettingText(NULL, FindSettingByField("LaunchLog")->Id);
    WCHAR* wide = setting[0] != 0 ? WidenText(setting) : NULL;
    FreeSettingText(setting);
    WCHAR expanded[LOG_NAME_SIZE];
    // The length counts the terminating NUL.
    length = wide != NULL ? ExpandEnvironmentStringsW(wide, expanded, LOG_NAME_SIZE) : 0;
    free(wide);
    if (length == 0 || length > LOG_NAME_SIZE)
        return false;
    bool relative = !IsAbsolutePathW(expanded);
    if (wcscmp(expanded, L"-") == 0 || !relative) {
        memcpy(name, expanded, length * sizeof(WCHAR));
        return true;
    }
    DWORD folder = GetModuleFileNameW(NULL, name, LOG_NAME_SIZE);
    WCHAR* slash = folder > 0 && folder < LOG_NAME_SIZE ? wcsrchr(name, '\\') : NULL;
    if (slash == NULL || (size_t)(slash + 1 - name) + length > LOG_NAME_SIZE)
        return false;
    memcpy(slash + 1, expanded, length * sizeof(WCHAR));
    return true;
}

// Starts the clock of the lines: the process's age now, and the counter.
static void StartLogClock()
{
    QueryPerformanceFrequency(&CounterFrequency);
    QueryPerformanceCounter(&CounterAtOpen);
    // 1000 steps of 100 ns make a tenth of a millisecond.
    TenthsAtOpen = ProcessAge() / 1000;
}

// Logs a text from the machine (a path) after label, as UTF-8.
static void LogMachineText(const char* label, const WCHAR* text)
{
    char* utf8 = MakeUtf8Text(text);
    LaunchLog("%s%s", label, utf8 != NULL ? utf8 : "(not convertible)");
    free(utf8);
}

// Logs the command line's program name and counts its arguments: one may be a password (the
// account's of an install switch), so their text is not shown.
static void LogCommandLine(int argc)
{
    const WCHAR* commandLine = GetCommandLineW();
    size_t length = (size_t)(SkipProgramName(commandLine) - commandLine);
    WCHAR* program = (WCHAR*)malloc((length + 1) * sizeof(WCHAR));
    if (program == NULL)
        return;
    memcpy(program, commandLine, length * sizeof(WCHAR));
    while (length > 0 && (program[length - 1] == ' ' || program[length - 1] == '\t'))
        length--;
    program[length] = 0;
    LogMachineText("command line: program ", program);
    free(program);
    LaunchLog("command line: %d argument(s) after it, not shown", argc - 1);
}

void StartLaunchLog(int argc)
{
    WCHAR name[LOG_NAME_SIZE];
    const char* source;
    if (!FindLogName(name, &source))
        return;
    if (wcscmp(name, L"-") == 0) {
        LaunchLogFile = INVALID_HANDLE_VALUE;
    } else {
        // Appended to, and shared: another start of the launcher may write to the same log.
        HANDLE file = CreateFileW(name, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  NULL, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
        if (file == INVALID_HANDLE_VALUE)
            return;
        LaunchLogFile = file;
    }
    StartLogClock();
    SYSTEMTIME now;
    GetLocalTime(&now);
    LaunchLog("Kestrun launcher " KESTRUN_VERSION " (" LAUNCHER_ARCHITECTURE "), process %lu, %04u-%02u-%02u "
              "%02u:%02u:%02u local time, log named by %s", GetCurrentProcessId(), now.wYear, now.wMonth, now.wDay,
              now.wHour, now.wMinute, now.wSecond, source);
    WCHAR path[MAX_PATH];
    DWORD length = GetModuleFileNameW(NULL, path, MAX_PATH);
    // A path cut to the buffer is still shown: it is only read here.
    path[length < MAX_PATH ? length : MAX_PATH - 1] = 0;
    LogMachineText("executable ", path);
    LogCommandLine(argc);
    length = GetCurrentDirectoryW(MAX_PATH, path);
    if (length > 0 && length < MAX_PATH)
        LogMachineText("started in ", path);
}
