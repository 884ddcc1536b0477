// The trace that tests read: one line per event, flushed to the file as it is written, so that nothing
// is lost when the process ends through exit or abort. The file is named by KESTRUN_JVM_TRACE.
#include "jvm_double.h"

#include <cstdio>
#include <cstdlib>

static std::mutex TraceLock;                 // serialises writers; guards TraceFile
static HANDLE TraceFile = nullptr;           // opened on the first line; INVALID_HANDLE_VALUE: no trace

std::string FormatText(const char* format, va_list args) {
    va_list copy;
    va_copy(copy, args);
    int n = vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (n < 0) return std::string("<unformattable text>");
    std::string text(static_cast<size_t>(n) + 1, '\0');
    vsnprintf(&text[0], text.size(), format, args);  // the buffer holds n + 1 bytes: nothing is cut
    text.resize(static_cast<size_t>(n));
    return text;
}

static HANDLE OpenTrace() {
    char name[MAX_PATH];
    DWORD n = GetEnvironmentVariableA("KESTRUN_JVM_TRACE", name, sizeof name);
    if (n == 0 || n >= sizeof name) return INVALID_HANDLE_VALUE;  // unset or too long: no trace
    HANDLE h = CreateFileA(name, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) fprintf(stderr, "jvm double: cannot open trace file %s\n", name);
    return h;
}

static void WriteTrace(const std::string& line) {
    std::lock_guard<std::mutex> hold(TraceLock);
    if (TraceFile == nullptr) TraceFile = OpenTrace();
    if (TraceFile == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(TraceFile, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

void TraceLine(const char* format, ...) {
    JavaThread* t = CurrentJavaThread();
    va_list args;
    va_start(args, format);
    std::string text = FormatText(format, args);
    va_end(args);
    WriteTrace("[" + (t ? t->name : std::string("-")) + "] " + text + "\n");
}

void DoubleFailure(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string text = FormatText(format, args);
    va_end(args);
    fprintf(stderr, "jvm double: %s\n", text.c_str());
    fflush(stderr);
    WriteTrace("[-] double-failure " + text + "\n");
    _exit(3);  // the status abort() gives, without the C runtime's message box in a GUI host
}
