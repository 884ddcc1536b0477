// The VM: the trace, the exported entry points, options and hooks, the invocation interface, Java
// threads, and the two ways the VM ends the process (System.exit and fatal errors).
#include "jvm_double.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <thread>
#include <cstdio>
#include <cstring>
#include <sstream>

typedef jint(JNICALL* VfprintfHookFn)(FILE* stream, const char* format, va_list args);
std::recursive_mutex VmLock;
std::map<std::string, std::string> Properties;
std::vector<std::string> ClassPath;
static VfprintfHookFn VfprintfHook = nullptr;  // the hooks come from the options
static void(JNICALL* ExitHook)(jint status) = nullptr;
static void(JNICALL* AbortHook)(void) = nullptr;
enum class VmState { None, Created, Destroyed };
static VmState State = VmState::None;  // under VmLock
static JavaVM TheJavaVm;
static JNIInvokeInterface_ InvokeTable;
static std::mutex TraceLock;                        // guards TraceFile and serialises its writers
static HANDLE TraceFile = nullptr;                  // opened on the first line; INVALID_HANDLE_VALUE: none
static std::vector<JavaThread*> LiveThreads;        // under VmLock
static std::condition_variable_any ThreadsChanged;  // signalled when a thread leaves LiveThreads
static int UnnamedThreads = 0;                      // numbers "Thread-N"; under VmLock
static thread_local JavaThread* Current = nullptr;
static std::atomic<bool> Exiting(false);            // set by the first System.exit

/* the trace: each line goes straight to the file, so nothing is lost however the process ends */

static std::string Format(const char* format, va_list args) {
    va_list copy;
    va_copy(copy, args);
    int n = vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string text(n > 0 ? static_cast<size_t>(n) + 1 : 1, '\0');
    vsnprintf(&text[0], text.size(), format, args);  // the buffer holds n + 1 bytes
    return text.substr(0, text.size() - 1);
}

static void WriteTrace(const std::string& line) {
    std::lock_guard<std::mutex> hold(TraceLock);
    char name[MAX_PATH];
    DWORD n = TraceFile ? 0 : GetEnvironmentVariableA("KESTRUN_JVM_TRACE", name, sizeof name);
    if (!TraceFile && n > 0 && n < sizeof name)  // unset or too long: no trace
        TraceFile = CreateFileA(name, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (!TraceFile) TraceFile = INVALID_HANDLE_VALUE;
    DWORD written = 0;
    if (TraceFile != INVALID_HANDLE_VALUE) WriteFile(TraceFile, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

void TraceLine(const char* format, ...) {
    va_list args;
    va_start(args, format);
    WriteTrace("[" + (Current ? Current->name : std::string("-")) + "] " + Format(format, args) + "\n");
    va_end(args);
}

void DoubleFailure(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string text = Format(format, args);
    va_end(args);
    fprintf(stderr, "jvm double: %s\n", text.c_str());
    fflush(stderr);
    WriteTrace("[-] double-failure " + text + "\n");
    _exit(3);  // the status abort() gives, without the C runtime's message box in a GUI host
}

std::string Utf8(const std::u16string& text) {
    const wchar_t* wide = reinterpret_cast<const wchar_t*>(text.data());
    int n = WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
    if (n > 0) WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(text.size()), &out[0], n, nullptr, nullptr);
    return out;
}

// VM text goes through the vfprintf hook with HotSpot's own format and arguments, else to stderr.
void VmPrint(const char* format, ...) {
    va_list args;
    va_start(args, format);
    if (VfprintfHook) VfprintfHook(stderr, format, args);
    else vfprintf(stderr, format, args);
    va_end(args);
    fflush(stderr);
}

/* threads */

// Makes a Java thread (named name, or "Thread-N" when name is null) for the calling thread or, with
// attach false, for a thread about to start: registered first, as Thread.start does, so DestroyJavaVM
// cannot miss it.
static JavaThread* NewJavaThread(const char* name, bool attach) {
    std::lock_guard<std::recursive_mutex> hold(VmLock);
    JavaThread* t = new JavaThread;
    t->env.env.functions = NativeTable();
    t->env.owner = t;
    t->name = name ? name : "Thread-" + std::to_string(UnnamedThreads++);
    t->osId = GetCurrentThreadId();
    LiveThreads.push_back(t);
    if (attach) Current = t;
    return t;
}

static void DetachJavaThread(JavaThread* t) {
    std::lock_guard<std::recursive_mutex> hold(VmLock);
    LiveThreads.erase(std::remove(LiveThreads.begin(), LiveThreads.end(), t), LiveThreads.end());
    if (Current == t) Current = nullptr;
    ThreadsChanged.notify_all();
}

void StartJavaThread(const std::string& name, std::function<void(JavaThread&)> body) {
    JavaThread* t = NewJavaThread(name.c_str(), false);
    std::thread([t, body] {
        Current = t;
        t->osId = GetCurrentThreadId();
        TraceLine("thread-start daemon=0");
        body(*t);
        if (t->pending) {  // the thread group's handler prints the whole report on System.err
            TraceLine("uncaught %s", ThrowableText(t->pending).c_str());
            PrintStackTrace(t->pending, "Exception in thread \"" + t->name + "\" ");
        }
        TraceLine("thread-end");
        DetachJavaThread(t);
    }).detach();
}

// System.exit runs the exit hook on a VM thread of its own, as HotSpot's VM thread does. Only the first
// call proceeds; every caller then blocks, as Shutdown does, until the process ends.
void ExitJava(jint status) {
    if (!Exiting.exchange(true))
        std::thread([status] {
            static JavaThread vmThread;
            vmThread.name = "VM Thread";
            Current = &vmThread;
            if (ExitHook) {
                TraceLine("exit-hook %ld", static_cast<long>(status));
                ExitHook(status);
                TraceLine("exit-hook-returned");
            }
            TraceLine("process-exit %ld", static_cast<long>(status));
            exit(status);
        }).detach();
    for (;;) Sleep(INFINITE);
}

void FatalJava(const std::string& text) {
    VmPrint("FATAL ERROR in native method: %s\n", text.c_str());
    TraceLine("fatal %s", text.c_str());
    if (AbortHook) {
        TraceLine("abort-hook");
        AbortHook();
        TraceLine("abort-hook-returned");
    }
    TraceLine("process-exit 1");  // HotSpot then ends the process with status 1 (no message box)
    _exit(1);
}

/* options */

static bool IsSupportedJniVersion(jint version) {
    for (jint v : {JNI_VERSION_1_2, JNI_VERSION_1_4, JNI_VERSION_1_6, JNI_VERSION_1_8, 0x00090000, 0x000a0000})
        if (v == version) return true;
    return false;
}

static bool StartsWith(const char* text, const char* prefix) { return strncmp(text, prefix, strlen(prefix)) == 0; }

static bool IsHook(const char* s) { return !strcmp(s, "vfprintf") || !strcmp(s, "exit") || !strcmp(s, "abort"); }

// Reports a bad option as HotSpot does; returns the creation result.
static jint RejectOption(const char* error, const char* option, jint result) {
    VmPrint("%s: %s\n", error, option);
    VmPrint("Error: Could not create the Java Virtual Machine.\n");
    TraceLine("rejected %s", option);
    return result;
}

static jint TakeOption(const char* s) {
    static const char* const sizes[][2] = {{"-Xmx", "Invalid maximum heap size"}, {"-Xms", "Invalid initial heap size"},
                                           {"-Xmn", "Invalid new generation size"}, {"-Xss", "Invalid thread stack size"}};
    // Taken as they are (prefix match): enough of HotSpot's options for realistic settings.
    static const char* const plain[] = {"-XX:", "-Xint", "-Xcomp", "-Xbatch", "-Xrs", "-Xcheck:jni", "-Xshare:", "-Xlog",
                                        "-verbose", "-ea", "-da", "-esa", "-dsa", "-javaagent:", "-agentlib:",
                                        "--add-opens=", "--add-exports=", "--add-modules="};
    const char* eq = strchr(s, '=');
    if (StartsWith(s, "-D")) {
        std::string key = eq ? std::string(s + 2, eq) : std::string(s + 2);
        Properties[key] = eq ? eq + 1 : "";
        TraceLine("property %s=%s", key.c_str(), eq ? eq + 1 : "");
        return JNI_OK;
    }
    for (const auto& size : sizes) {
        if (!StartsWith(s, size[0])) continue;
        const char* unit = s + 4 + strspn(s + 4, "0123456789");
        bool valid = unit > s + 4 && (*unit == '\0' || (strchr("kKmMgGtT", *unit) && unit[1] == '\0'));
        return valid ? JNI_OK : RejectOption(size[1], s, JNI_EINVAL);
    }
    for (const char* prefix : plain)
        if (StartsWith(s, prefix)) return JNI_OK;
    return RejectOption("Unrecognized option", s, JNI_ERR);
}

// The hooks are taken first, so a complaint about any option reaches the vfprintf hook.
static jint TakeOptions(const JavaVMInitArgs& a) {
    for (jint i = 0; i < a.nOptions; i++) {
        const char* s = a.options[i].optionString;
        void* hook = a.options[i].extraInfo;
        if (!strcmp(s, "vfprintf")) VfprintfHook = reinterpret_cast<VfprintfHookFn>(hook);
        if (!strcmp(s, "exit")) ExitHook = reinterpret_cast<void(JNICALL*)(jint)>(hook);
        if (!strcmp(s, "abort")) AbortHook = reinterpret_cast<void(JNICALL*)(void)>(hook);
    }
    char dir[MAX_PATH];
    DWORD n = GetCurrentDirectoryA(sizeof dir, dir);
    Properties["user.dir"] = n > 0 && n < sizeof dir ? dir : "";  // too long: left empty
    for (jint i = 0; i < a.nOptions; i++) {
        jint result = IsHook(a.options[i].optionString) ? JNI_OK : TakeOption(a.options[i].optionString);
        if (result != JNI_OK) return result;
    }
    if (!Properties.count("java.class.path")) Properties["java.class.path"] = ".";  // the default
    TraceLine("classpath %s", Properties["java.class.path"].c_str());
    // Entries are made absolute against the current directory, as the application class loader does.
    std::istringstream parts(Properties["java.class.path"]);
    for (std::string entry; std::getline(parts, entry, ';');) {
        DWORD length = entry.empty() ? 0 : GetFullPathNameA(entry.c_str(), sizeof dir, dir, nullptr);
        if (!entry.empty()) ClassPath.push_back(length == 0 || length >= sizeof dir ? entry : std::string(dir, length));
        if (!entry.empty()) TraceLine("classpath-entry %s", ClassPath.back().c_str());
    }
    return JNI_OK;
}

/* the exports and the invocation interface */

static jint JNICALL DestroyJavaVM(JavaVM*) {
    JavaThread* t = Current;
    TraceLine("jvm DestroyJavaVM");
    if (State != VmState::Created) return JNI_ERR;
    if (!t) t = NewJavaThread("DestroyJavaVM", true);  // HotSpot attaches the caller first
    std::unique_lock<std::recursive_mutex> hold(VmLock);
    // Waits for every other (non-daemon) thread to end.
    ThreadsChanged.wait(hold, [t] { return LiveThreads.size() == 1 && LiveThreads[0] == t; });
    State = VmState::Destroyed;
    TraceLine("destroyed");
    DetachJavaThread(t);
    return JNI_OK;
}

static jint JNICALL AttachCurrentThread(JavaVM*, void** penv, void* args) {
    const JavaVMAttachArgs* a = static_cast<const JavaVMAttachArgs*>(args);
    if (State != VmState::Created) {
        TraceLine("jvm AttachCurrentThread refused: no VM");
        return JNI_ERR;
    }
    // The name counts only when the arguments carry a supported version, as in HotSpot.
    if (!Current) NewJavaThread(a && IsSupportedJniVersion(a->version) ? a->name : nullptr, true);
    TraceLine("jvm AttachCurrentThread name=\"%s\" version=0x%08lx", Current->name.c_str(),
              a ? static_cast<unsigned long>(a->version) : 0ul);
    *penv = &Current->env.env;
    return JNI_OK;
}

static jint JNICALL DetachCurrentThread(JavaVM*) {
    JavaThread* t = Current;
    TraceLine("jvm DetachCurrentThread%s", t ? "" : " (not attached)");
    if (t) DetachJavaThread(t);
    return JNI_OK;
}

static void FillModelled(JNIInvokeInterface_& table) {
    table.DestroyJavaVM = DestroyJavaVM;
    table.AttachCurrentThread = AttachCurrentThread;
    table.DetachCurrentThread = DetachCurrentThread;
}

static jint CreateVm(JavaVM** pvm, void** penv, const JavaVMInitArgs& a) {
    if (State != VmState::None) return State == VmState::Created ? JNI_EEXIST : JNI_ERR;
    if (!IsSupportedJniVersion(a.version)) return JNI_EVERSION;
    if (a.ignoreUnrecognized) DoubleFailure("ignoreUnrecognized is not modelled");
    jint result = TakeOptions(a);
    if (result != JNI_OK) return result;
    FillInvokeTable(InvokeTable, FillModelled);
    TheJavaVm.functions = &InvokeTable;
    InitSystemStreams();
    State = VmState::Created;
    *pvm = &TheJavaVm;
    *penv = &NewJavaThread("main", true)->env.env;
    return JNI_OK;
}

extern "C" JNIEXPORT jint JNICALL JNI_CreateJavaVM(JavaVM** pvm, void** penv, void* args) {
    std::lock_guard<std::recursive_mutex> hold(VmLock);
    const JavaVMInitArgs& a = *static_cast<JavaVMInitArgs*>(args);
    TraceLine("create version=0x%08lx nOptions=%ld ignoreUnrecognized=%d", static_cast<unsigned long>(a.version),
              static_cast<long>(a.nOptions), a.ignoreUnrecognized ? 1 : 0);
    for (jint i = 0; i < a.nOptions; i++) {
        const char* s = a.options[i].optionString;
        if (!s) DoubleFailure("option %ld has a null optionString", static_cast<long>(i));
        TraceLine("option[%ld] %s%s", static_cast<long>(i), s, !IsHook(s) ? "" : a.options[i].extraInfo ? " hook" : " null-hook");
    }
    jint result = CreateVm(pvm, penv, a);
    TraceLine("create-result %ld", static_cast<long>(result));
    return result;
}

extern "C" JNIEXPORT jint JNICALL JNI_GetDefaultJavaVMInitArgs(void* args) {
    JavaVMInitArgs* a = static_cast<JavaVMInitArgs*>(args);  // every version's structure starts with version
    TraceLine("GetDefaultJavaVMInitArgs version=0x%08lx", static_cast<unsigned long>(a->version));
    if (a->version == JNI_VERSION_1_1) a->version = JNI_VERSION_1_2;  // HotSpot answers 1.1 with its own version
    return IsSupportedJniVersion(a->version) ? JNI_OK : JNI_ERR;
}
