// The platform layer: POSIX against a Linux libjvm.so, Win32 against a jvm.dll. On Windows the VM's
// streams belong to its own C library (ucrtbase for Java 9 and later), not to the runner's.
#include "platform.h"

#include <cstring>

#ifdef _WIN32
#include <windows.h>

void* LoadVmEntry(const char* library, const char* name) {
    HMODULE vm = LoadLibraryA(library);
    return vm ? reinterpret_cast<void*>(GetProcAddress(vm, name)) : nullptr;
}

struct ThreadStart {
    void (*body)(void*);
    void* arg;
};

static DWORD WINAPI RunBody(void* start) {
    ThreadStart s = *static_cast<ThreadStart*>(start);
    delete static_cast<ThreadStart*>(start);
    s.body(s.arg);
    return 0;
}

void* StartThread(void (*body)(void*), void* arg) {
    return CreateThread(nullptr, 0, RunBody, new ThreadStart{body, arg}, 0, nullptr);
}

void JoinThread(void* thread) { WaitForSingleObject(thread, INFINITE); }
unsigned long CurrentThreadId() { return GetCurrentThreadId(); }

// A function of the VM's C library; null when the VM did not load ucrtbase.
static void* Crt(const char* name) {
    HMODULE crt = GetModuleHandleA("ucrtbase.dll");
    return crt ? reinterpret_cast<void*>(GetProcAddress(crt, name)) : nullptr;
}

const char* StreamName(FILE* stream) {
    FILE* (*iob)(unsigned) = reinterpret_cast<FILE* (*)(unsigned)>(Crt("__acrt_iob_func"));
    if (!iob) return "unknown";
    return stream == iob(1) ? "stdout" : stream == iob(2) ? "stderr" : "file";
}

void ForwardText(FILE* stream, const char* text) {
    int (*put)(const char*, FILE*) = reinterpret_cast<int (*)(const char*, FILE*)>(Crt("fputs"));
    int (*flush)(FILE*) = reinterpret_cast<int (*)(FILE*)>(Crt("fflush"));
    if (put && flush) put(text, stream), flush(stream);
}

void WriteOut(const char* text) {
    DWORD written;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text, strlen(text), &written, nullptr);
}

void EndProcess(int status) { ExitProcess(status); }

#else
#include <dlfcn.h>
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

void* LoadVmEntry(const char* library, const char* name) {
    void* vm = dlopen(library, RTLD_NOW);
    return vm ? dlsym(vm, name) : nullptr;
}

struct ThreadStart {
    void (*body)(void*);
    void* arg;
};

static void* RunBody(void* start) {
    ThreadStart s = *static_cast<ThreadStart*>(start);
    delete static_cast<ThreadStart*>(start);
    s.body(s.arg);
    return nullptr;
}

void* StartThread(void (*body)(void*), void* arg) {
    pthread_t thread;
    return pthread_create(&thread, nullptr, RunBody, new ThreadStart{body, arg}) ? nullptr
                                                                                  : reinterpret_cast<void*>(thread);
}

void JoinThread(void* thread) { pthread_join(reinterpret_cast<pthread_t>(thread), nullptr); }
unsigned long CurrentThreadId() { return syscall(SYS_gettid); }

const char* StreamName(FILE* stream) { return stream == stdout ? "stdout" : stream == stderr ? "stderr" : "file"; }

void ForwardText(FILE* stream, const char* text) {
    fputs(text, stream);
    fflush(stream);
}

void WriteOut(const char* text) {
    for (size_t done = 0, n = strlen(text); done < n;) {
        ssize_t wrote = write(1, text + done, n - done);
        if (wrote <= 0) return;
        done += wrote;
    }
}

void EndProcess(int status) { _exit(status); }
#endif
