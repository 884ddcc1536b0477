// The conformance runner: creates a JVM through the invocation interface as the launcher does (its options,
// the three hooks, ignoreUnrecognized false unless asked) and runs the steps of one table row (table.txt
// lists them), printing one line per observation on standard output, in order with what Java prints there.
//   runner LIBRARY [OPTION...] -- [STEP...]
#include <jni.h>

#include <algorithm>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// The platform layer: the JVM library, and the C library that owns the streams the VM hands to the
// vfprintf hook. A Linux libjvm.so uses the runner's own C library; a Windows jvm.dll (Java 9 and later)
// its own ucrtbase, not the runner's msvcrt. LoadVmEntry gives an export of the JVM library or null,
// StreamName "stdout", "stderr" or "file" in the VM's C library, ForwardText writes and flushes with it.
#ifdef _WIN32
#include <windows.h>

static void* LoadVmEntry(const char* library, const char* name) {
    HMODULE vm = LoadLibraryA(library);
    return vm ? reinterpret_cast<void*>(GetProcAddress(vm, name)) : nullptr;
}

// A function of the VM's C library; null when the VM did not load ucrtbase.
static void* Crt(const char* name) {
    HMODULE crt = GetModuleHandleA("ucrtbase.dll");
    return crt ? reinterpret_cast<void*>(GetProcAddress(crt, name)) : nullptr;
}

static const char* StreamName(FILE* stream) {
    FILE* (*iob)(unsigned) = reinterpret_cast<FILE* (*)(unsigned)>(Crt("__acrt_iob_func"));
    return !iob ? "unknown" : stream == iob(1) ? "stdout" : stream == iob(2) ? "stderr" : "file";
}

static void ForwardText(FILE* stream, const char* text) {
    int (*put)(const char*, FILE*) = reinterpret_cast<int (*)(const char*, FILE*)>(Crt("fputs"));
    int (*flush)(FILE*) = reinterpret_cast<int (*)(FILE*)>(Crt("fflush"));
    if (put && flush) put(text, stream), flush(stream);
}
#else
#include <dlfcn.h>

static void* LoadVmEntry(const char* library, const char* name) {
    void* vm = dlopen(library, RTLD_NOW);
    return vm ? dlsym(vm, name) : nullptr;
}

static const char* StreamName(FILE* stream) { return stream == stdout ? "stdout" : stream == stderr ? "stderr" : "file"; }

static void ForwardText(FILE* stream, const char* text) {
    fputs(text, stream);
    fflush(stream);
}
#endif

static std::recursive_mutex Lock;  // one observation at a time; the hooks come from several threads
static std::thread::id MainThread, AttachedThread;
static std::string Pending, PendingSource;  // VM text not yet ended by a newline, and "THREAD STREAM"
static JavaVM* Vm;
static JNIEnv* Env;
static jint(JNICALL* CreateVm)(JavaVM**, void**, void*);
static const char* Library;

static const char* ThreadName() {
    std::thread::id id = std::this_thread::get_id();
    return id == MainThread ? "main" : id == AttachedThread ? "attached" : "vm";
}

// Straight to standard output, in order with what Java writes there itself.
static void WriteOut(const std::string& text) {
    fputs(text.c_str(), stdout);
    fflush(stdout);
}

// VM text is shown by line: HotSpot may write one line in several calls. A line left open is shown
// before the next observation, marked as such.
static void FlushPending() {
    if (!Pending.empty()) WriteOut("vm " + PendingSource + ": " + Pending + "[no newline]\n");
    Pending.clear();
}

static void Observe(const std::string& line) {
    std::lock_guard<std::recursive_mutex> hold(Lock);
    FlushPending();
    WriteOut(line + "\n");
}

// The launcher's hook: the text reaches the stream it was meant for, through the VM's C library.
static jint JNICALL VfprintfHook(FILE* stream, const char* format, va_list args) {
    char text[4096];
    int n = vsnprintf(text, sizeof text, format, args);  // longer texts are cut; no row prints one
    std::lock_guard<std::recursive_mutex> hold(Lock);
    ForwardText(stream, text);
    std::string source = std::string(ThreadName()) + " " + StreamName(stream);
    if (source != PendingSource) FlushPending();
    PendingSource = source;
    for (const char* c = text; *c; c++) {
        if (*c != '\n') Pending += *c;
        else WriteOut("vm " + source + ": " + Pending + "\n"), Pending.clear();
    }
    return n;
}

static void JNICALL ExitHook(jint status) {
    Observe("exit-hook " + std::to_string(status) + " on " + ThreadName());
    std::_Exit(status);
}

static void JNICALL AbortHook() {
    Observe(std::string("abort-hook on ") + ThreadName());
    std::_Exit(70);
}

// A Java string of ARG: UTF-8 bytes taken as Latin-1 units, %XXXX as one UTF-16 unit.
static jstring JavaString(JNIEnv* env, const char* arg) {
    std::vector<jchar> units;
    for (const char* c = arg; *c; c++) {
        if (*c == '%' && strlen(c) >= 5) units.push_back(strtoul(std::string(c + 1, 4).c_str(), nullptr, 16)), c += 4;
        else units.push_back(static_cast<unsigned char>(*c));
    }
    return env->NewString(units.data(), units.size());
}

static std::vector<std::string> Split(const std::string& text) {
    std::vector<std::string> parts;
    for (size_t from = 0, to; from <= text.size(); from = to + 1)
        parts.push_back(text.substr(from, (to = std::min(text.find(':', from), text.size())) - from));
    return parts;
}

// CLASS.main(ARGS) as the launcher calls it; a pending exception stays pending for "describe".
static void CallMain(JNIEnv* env, const std::vector<std::string>& words, size_t first) {
    jclass string = env->FindClass("java/lang/String"), cls = env->FindClass(words[first].c_str());
    jmethodID main = cls ? env->GetStaticMethodID(cls, "main", "([Ljava/lang/String;)V") : nullptr;
    if (main) {
        jobjectArray args = env->NewObjectArray(words.size() - first - 1, string, nullptr);
        for (size_t i = first + 1; i < words.size(); i++)
            env->SetObjectArrayElement(args, i - first - 1, JavaString(env, words[i].c_str()));
        env->CallStaticVoidMethod(cls, main, args);
    }
    Observe("main " + words[first] + (env->ExceptionCheck() ? " threw" : " returned"));
}

static void SetStream(const std::string& setter, const std::string& file) {
    jclass fileClass = Env->FindClass("java/io/FileOutputStream"), printClass = Env->FindClass("java/io/PrintStream");
    jclass system = Env->FindClass("java/lang/System");
    jobject out = Env->NewObject(fileClass, Env->GetMethodID(fileClass, "<init>", "(Ljava/lang/String;Z)V"),
                                 JavaString(Env, file.c_str()), JNI_TRUE);
    jobject print = Env->NewObject(printClass, Env->GetMethodID(printClass, "<init>", "(Ljava/io/OutputStream;)V"), out);
    Env->CallStaticVoidMethod(system, Env->GetStaticMethodID(system, setter.c_str(), "(Ljava/io/PrintStream;)V"), print);
    Observe(setter + " " + file);
}

// attach:VERSION:NAME:CLASS on a thread of its own, as the launcher's stopper thread.
static void Attach(const std::string& step) {
    std::vector<std::string> words = Split(step);
    AttachedThread = std::this_thread::get_id();
    JavaVMAttachArgs args = {jint(strtoul(words[1].c_str(), nullptr, 16)), const_cast<char*>(words[2].c_str()), nullptr};
    if (words[2] == "-") args.name = nullptr;
    JNIEnv* env = nullptr;
    jint rc = Vm->AttachCurrentThread(reinterpret_cast<void**>(&env), words[1] == "null" ? nullptr : &args);
    Observe("attach " + words[1] + " " + words[2] + " rc " + std::to_string(rc));
    if (rc == JNI_OK) CallMain(env, words, 3);
    Observe("detach rc " + std::to_string(Vm->DetachCurrentThread()));
}

// default-args:VERSION: whether the library takes a JNI version (VERSION hex), as the launcher asks it
// before giving Java 9 options.
static void DefaultArgs(const std::string& version) {
    auto entry = reinterpret_cast<jint(JNICALL*)(void*)>(LoadVmEntry(Library, "JNI_GetDefaultJavaVMInitArgs"));
    JavaVMInitArgs args = {jint(strtoul(version.c_str(), nullptr, 16)), 0, nullptr, JNI_FALSE};
    Observe("default-args " + version + " rc " + (entry ? std::to_string(entry(&args)) : "absent"));
}

static jint Create(std::vector<JavaVMOption>& options, bool ignore) {
    JavaVMInitArgs args = {JNI_VERSION_1_2, jint(options.size()), options.data(), jboolean(ignore)};
    jint rc = CreateVm(&Vm, reinterpret_cast<void**>(&Env), &args);
    Observe("create rc " + std::to_string(rc));
    return rc;
}

static void Run(std::vector<JavaVMOption>& options, const std::string& step) {
    std::vector<std::string> words = Split(step);
    const std::string& verb = words[0];
    if (verb == "main") CallMain(Env, words, 1);
    else if (verb == "set-out" || verb == "set-err") SetStream(verb == "set-out" ? "setOut" : "setErr", words[1]);
    else if (verb == "describe") Env->ExceptionDescribe(), Observe("described");
    else if (verb == "attach") std::thread(Attach, step).join();
    else if (verb == "destroy") Observe("destroy rc " + std::to_string(Vm->DestroyJavaVM()));
    else if (verb == "create") Create(options, false);
    else if (verb == "default-args") DefaultArgs(words[1]);
    else if (verb == "fatal") Env->FatalError(words[1].c_str());
    else Observe("runner: unknown step " + step);
}

int main(int argc, char** argv) {
    MainThread = std::this_thread::get_id();
    Library = argc > 1 ? argv[1] : "";
    CreateVm = reinterpret_cast<decltype(CreateVm)>(argc > 1 ? LoadVmEntry(argv[1], "JNI_CreateJavaVM") : nullptr);
    if (!CreateVm) return Observe("runner: no JNI_CreateJavaVM in the library"), 2;
    std::vector<JavaVMOption> options;
    JavaVMOption hooks[] = {{const_cast<char*>("vfprintf"), reinterpret_cast<void*>(VfprintfHook)},
                            {const_cast<char*>("exit"), reinterpret_cast<void*>(ExitHook)},
                            {const_cast<char*>("abort"), reinterpret_cast<void*>(AbortHook)}};
    size_t hooksAt = argc;  // past the end: last
    bool ignore = false;
    int i = 2;
    for (; i < argc && strcmp(argv[i], "--"); i++) {
        if (!strcmp(argv[i], "hooks")) hooksAt = options.size();
        else if (!strcmp(argv[i], "ignoreUnrecognized")) ignore = true;
        else options.push_back({argv[i], nullptr});
    }
    options.insert(options.begin() + std::min(hooksAt, options.size()), hooks, hooks + 3);
    if (Create(options, ignore) != JNI_OK) return 1;
    for (i++; i < argc; i++) Run(options, argv[i]);
    Observe("end");
    return 0;
}
