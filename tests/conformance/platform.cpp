// The platform layer: a Linux libjvm.so uses the runner's own C library; a Windows jvm.dll (Java 9 and
// later) its own ucrtbase, not the runner's msvcrt.
#include "platform.h"

#ifdef _WIN32
#include <windows.h>

void* LoadVmEntry(const char* library, const char* name) {
    HMODULE vm = LoadLibraryA(library);
    return vm ? reinterpret_cast<void*>(GetProcAddress(vm, name)) : nullptr;
}

// A function of the VM's C library; null when the VM did not load ucrtbase.
static void* Crt(const char* name) {
    HMODULE crt = GetModuleHandleA("ucrtbase.dll");
    return crt ? reinterpret_cast<void*>(GetProcAddress(crt, name)) : nullptr;
}

const char* StreamName(FILE* stream) {
    FILE* (*iob)(unsigned) = reinterpret_cast<FILE* (*)(unsigned)>(Crt("__acrt_iob_func"));
    return !iob ? "unknown" : stream == iob(1) ? "stdout" : stream == iob(2) ? "stderr" : "file";
}

void ForwardText(FILE* stream, const char* text) {
    int (*put)(const char*, FILE*) = reinterpret_cast<int (*)(const char*, FILE*)>(Crt("fputs"));
    int (*flush)(FILE*) = reinterpret_cast<int (*)(FILE*)>(Crt("fflush"));
    if (put && flush) put(text, stream), flush(stream);
}
#else
#include <dlfcn.h>

void* LoadVmEntry(const char* library, const char* name) {
    void* vm = dlopen(library, RTLD_NOW);
    return vm ? dlsym(vm, name) : nullptr;
}

const char* StreamName(FILE* stream) { return stream == stdout ? "stdout" : stream == stderr ? "stderr" : "file"; }

void ForwardText(FILE* stream, const char* text) {
    fputs(text, stream);
    fflush(stream);
}
#endif
