// The VM: the trace, the exported entry points with their options and hooks, the invocation interface,
// Java threads, and the two ways the VM ends the process (System.exit and fatal errors).
#include "jvm_double.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <thread>

std::recursive_mutex VmLock;
std::map<std::string, std::string> Properties;
std::vector<std::string> ClassPath;
static jint(JNICALL* VfprintfHook)(FILE*, const char*, va_list) = nullptr;  // the hooks come from the options
static void(JNICALL* ExitHook)(jint) = nullptr;
static void(JNICALL* AbortHook)(void) = nullptr;
static enum { None, Created, Destroyed } State = None;  // under VmLock
static JavaVM TheJavaVm;
static JNIInvokeInterface_ InvokeTable;
static std::mutex TraceLock;                        // guards TraceFile
static HANDLE TraceFile = nullptr;                  // opened on the first line; INVALID_HANDLE_VALUE: no trace
static std::vector<JavaThread*> LiveThreads;        // under VmLock
static std::condition_variable_any ThreadsChanged;  // signalled when a thread leaves LiveThreads
static int UnnamedThreads = 0;                      // numbers "Thread-N"; under VmLock
static thread_local JavaThread* Current = nullptr;
static std::atomic<bool> Exiting(false);            // set by the first System.exit

static std::string Format(const char* format, va_list args) {
    va_list copy;
    va_copy(copy, args);
    std::string text(static_cast<size_t>(std::max(vsnprintf(nullptr, 0, format, copy), 0)) + 1, '\0');
    va_end(copy);
    vsnprintf(&text[0], text.size(), format, args);
    text.pop_back();
    return text;
}

// Each line goes straight to the file, so nothing is lost however the process ends.
static void WriteTrace(const std::string& line) {
    std::lock_guard<std::mutex> hold(TraceLock);
    char name[MAX_PATH];
    DWORD n = TraceFile ? 0 : GetEnvironmentVariableA("KESTRUN_JVM_TRACE", name, sizeof name), written;
    if (!TraceFile)  // unset or too long: no trace
        TraceFile = n == 0 || n >= sizeof name ? INVALID_HANDLE_VALUE
                    : CreateFileA(name, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_ALWAYS, 0, nullptr);
    if (TraceFile != INVALID_HANDLE_VALUE) WriteFile(TraceFile, line.data(), line.size(), &written, nullptr);
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
    std::string out(text.size() * 3, '\0');  // a UTF-16 unit needs at most 3 bytes
    int n = WideCharToMultiByte(CP_UTF8, 0, reinterpret_cast<const wchar_t*>(text.data()), text.size(), &out[0],
                                out.size(), nullptr, nullptr);
    return out.substr(0, n);
}

// VM text goes through the vfprintf hook with HotSpot's own format and arguments, else to stderr.
void VmPrint(const char* format, ...) {
    va_list args;
    va_start(args, format);
    VfprintfHook ? VfprintfHook(stderr, format, args) : vfprintf(stderr, format, args);
    va_end(args);
    fflush(stderr);
}

// A Java thread for the calling thread (attach) or for one about to start: registered first, as
// Thread.start does, so DestroyJavaVM cannot miss it. A null name gives "Thread-N".
static JavaThread* NewJavaThread(const char* name, bool attach) {
    std::lock_guard<std::recursive_mutex> hold(VmLock);
    JavaThread* t = new JavaThread;
    t->env.env.functions = NativeTable();
    t->env.owner = t;
    t->name = name ? name : "Thread-" + std::to_string(UnnamedThreads++);
    t->osId = GetCurrentThreadId();
    LiveThreads.push_back(t);
    return attach ? (Current = t) : t;
}

static void DetachJavaThread(JavaThread* t) {
    std::lock_guard<std::recursive_mutex> hold(VmLock);
    LiveThreads.erase(std::remove(LiveThreads.begin(), LiveThreads.end(), t), LiveThreads.end());
    Current = Current == t ? nullptr : Current;
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

static bool IsSupportedJniVersion(jint v) {  // as HotSpot 17 for creating and attaching
    return v == JNI_VERSION_1_2 || v == JNI_VERSION_1_4 || v == JNI_VERSION_1_6 || v == JNI_VERSION_1_8 ||
           v == 0x00090000 || v == 0x000a0000;
}

static bool StartsWith(const char* text, const char* prefix) { return strncmp(text, prefix, strlen(prefix)) == 0; }
static bool IsHook(const char* s) { return !strcmp(s, "vfprintf") || !strcmp(s, "exit") || !strcmp(s, "abort"); }

// A property, one of HotSpot's options (enough for realistic settings; a heap or stack size must be a
// number with an optional unit), or a complaint as HotSpot words it.
static jint TakeOption(const char* s) {
    static const char* const plain[] = {"-XX:", "-Xint", "-Xcomp", "-Xbatch", "-Xrs", "-Xcheck:jni", "-Xshare:",
                                        "-Xlog", "-verbose", "-ea", "-da", "-esa", "-dsa", "-javaagent:",
                                        "-agentlib:", "--add-opens=", "--add-exports=", "--add-modules="};
    static const char* const sizes[][2] = {{"-Xmx", "Invalid maximum heap size"},
                                           {"-Xms", "Invalid initial heap size"},
                                           {"-Xmn", "Invalid new generation size"},
                                           {"-Xss", "Invalid thread stack size"}};
    const char *eq = strchr(s, '='), *error = "Unrecognized option";
    jint result = JNI_ERR;
    if (StartsWith(s, "-D")) {
        std::string key = eq ? std::string(s + 2, eq) : std::string(s + 2);
        TraceLine("property %s=%s", key.c_str(), (Properties[key] = eq ? eq + 1 : "").c_str());
        return JNI_OK;
    }
    for (const char* prefix : plain)
        if (StartsWith(s, prefix)) return JNI_OK;
    for (const auto& size : sizes) {
        const char* unit = StartsWith(s, size[0]) ? s + 4 + strspn(s + 4, "0123456789") : nullptr;
        if (unit && unit > s + 4 && (!*unit || (strchr("kKmMgGtT", *unit) && !unit[1]))) return JNI_OK;
        if (unit) error = size[1], result = JNI_EINVAL;
    }
    VmPrint("%s: %s\n", error, s);
    VmPrint("Error: Could not create the Java Virtual Machine.\n");
    TraceLine("rejected %s", s);
    return result;
}

// The hooks are taken first, so a complaint about any option reaches the vfprintf hook.
static jint TakeOptions(const JavaVMInitArgs& a) {
    for (jint i = 0; i < a.nOptions; i++) {
        const char* s = a.options[i].optionString;
        void* hook = a.options[i].extraInfo;
        if (!strcmp(s, "vfprintf")) VfprintfHook = reinterpret_cast<decltype(VfprintfHook)>(hook);
        if (!strcmp(s, "exit")) ExitHook = reinterpret_cast<decltype(ExitHook)>(hook);
        if (!strcmp(s, "abort")) AbortHook = reinterpret_cast<decltype(AbortHook)>(hook);
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
        n = entry.empty() ? 0 : GetFullPathNameA(entry.c_str(), sizeof dir, dir, nullptr);
        if (!entry.empty()) ClassPath.push_back(n == 0 || n >= sizeof dir ? entry : std::string(dir, n));
        if (!entry.empty()) TraceLine("classpath-entry %s", ClassPath.back().c_str());
    }
    return JNI_OK;
}

static jint JNICALL DestroyJavaVM(JavaVM*) {
    JavaThread* t = Current;
    TraceLine("jvm DestroyJavaVM");
    if (State != Created) return JNI_ERR;
    if (!t) t = NewJavaThread("DestroyJavaVM", true);  // HotSpot attaches the caller first
    std::unique_lock<std::recursive_mutex> hold(VmLock);
    ThreadsChanged.wait(hold, [] { return LiveThreads.size() == 1; });  // every other thread is non-daemon
    State = Destroyed;
    TraceLine("destroyed");
    DetachJavaThread(t);
    return JNI_OK;
}

static jint JNICALL AttachCurrentThread(JavaVM*, void** penv, void* args) {
    const JavaVMAttachArgs* a = static_cast<const JavaVMAttachArgs*>(args);
    if (State != Created) TraceLine("jvm AttachCurrentThread refused: no VM");
    if (State != Created) return JNI_ERR;
    // The name counts only when the arguments carry a supported version, as in HotSpot.
    if (!Current) NewJavaThread(a && IsSupportedJniVersion(a->version) ? a->name : nullptr, true);
    TraceLine("jvm AttachCurrentThread name=\"%s\" version=0x%08lx", Current->name.c_str(),
              a ? static_cast<unsigned long>(a->version) : 0ul);
    *penv = &Current->env.env;
    return JNI_OK;
}

static jint JNICALL DetachCurrentThread(JavaVM*) {
    TraceLine("jvm DetachCurrentThread%s", Current ? "" : " (not attached)");
    if (Current) DetachJavaThread(Current);
    return JNI_OK;
}

static jint CreateVm(JavaVM** pvm, void** penv, const JavaVMInitArgs& a) {
    if (State != None) return State == Created ? JNI_EEXIST : JNI_ERR;
    if (!IsSupportedJniVersion(a.version)) return JNI_EVERSION;
    if (a.ignoreUnrecognized) DoubleFailure("ignoreUnrecognized is not modelled");
    jint result = TakeOptions(a);
    if (result != JNI_OK) return result;
    FillInvokeTable(InvokeTable);
    InvokeTable.DestroyJavaVM = DestroyJavaVM;
    InvokeTable.AttachCurrentThread = AttachCurrentThread;
    InvokeTable.DetachCurrentThread = DetachCurrentThread;
    TheJavaVm.functions = &InvokeTable;
    InitSystemStreams();
    State = Created;
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
        TraceLine("option[%ld] %s%s", static_cast<long>(i), s,
                  !IsHook(s) ? "" : a.options[i].extraInfo ? " hook" : " null-hook");
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
