// The VM: the trace, the exported entry points with their options and hooks, the invocation interface,
// Java threads, and the two ways the VM ends the process (System.exit and fatal errors).
#include "jvm_double.h"

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
static const JNINativeInterface_* NativeTable = nullptr;
static int LiveThreads = 0;                         // attached or started, not yet ended; under VmLock
static std::condition_variable_any ThreadsChanged;  // signalled when a thread ends
static std::atomic<int> UnnamedThreads(0);          // numbers "Thread-N"
static thread_local JavaThread* Current = nullptr;
static std::atomic<bool> Exiting(false);  // set by the first System.exit

// Each line goes straight to the file, opened on the first line, so nothing is lost however the process ends.
void TraceLine(const std::string& text) {
    static std::mutex lock;
    std::lock_guard<std::mutex> hold(lock);
    static const wchar_t* path = _wgetenv(L"KESTRUN_JVM_TRACE");
    static HANDLE file = !path ? INVALID_HANDLE_VALUE
                               : CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                             OPEN_ALWAYS, 0, nullptr);
    std::string line = "[" + (Current ? Current->name : std::string("-")) + "] " + text + "\n";
    DWORD written;
    if (file != INVALID_HANDLE_VALUE) WriteFile(file, line.data(), line.size(), &written, nullptr);
}

void DoubleFailure(const std::string& text) {
    fprintf(stderr, "jvm double: %s\n", text.c_str());
    fflush(stderr);
    TraceLine("double-failure " + text);
    _exit(3);  // the status abort() gives, without the C runtime's message box in a GUI host
}

// Option strings are ANSI text, as a real runtime reads them (the process code page, no other).
static std::string FromAnsi(const char* text) {
    std::u16string wide(strlen(text), u'\0');
    wide.resize(MultiByteToWideChar(CP_ACP, 0, text, wide.size(), reinterpret_cast<wchar_t*>(&wide[0]), wide.size()));
    return Utf8(wide);
}

std::string Utf8(const std::u16string& text) {
    std::string out(text.size() * 3, '\0');  // a UTF-16 unit needs at most 3 bytes
    out.resize(WideCharToMultiByte(CP_UTF8, 0, reinterpret_cast<const wchar_t*>(text.data()), text.size(), &out[0],
                                   out.size(), nullptr, nullptr));
    return out;
}

// VM text goes through the vfprintf hook with HotSpot's own format and arguments, else to stderr.
void VmPrint(const char* format, ...) {
    va_list args;
    va_start(args, format);
    VfprintfHook ? VfprintfHook(stderr, format, args) : vfprintf(stderr, format, args);
    va_end(args);
    fflush(stderr);
}

// A Java thread for the calling thread or for one about to start: registered first, as Thread.start does,
// so DestroyJavaVM cannot miss it.
static JavaThread* NewJavaThread(const std::string& name) {
    std::lock_guard<std::recursive_mutex> hold(VmLock);
    JavaThread* t = new JavaThread;
    t->env = {{NativeTable}, t};
    t->name = name;
    t->osId = GetCurrentThreadId();
    LiveThreads++;
    return t;
}

static void DetachCurrent() {
    std::lock_guard<std::recursive_mutex> hold(VmLock);
    LiveThreads--;
    Current = nullptr;
    ThreadsChanged.notify_all();
}

void StartJavaThread(const std::string& name, std::function<void(JavaThread&)> body) {
    JavaThread* t = NewJavaThread(name);
    std::thread([t, body] {
        Current = t;
        t->osId = GetCurrentThreadId();
        body(*t);
        // An uncaught exception: the thread group's handler prints the whole report on System.err.
        if (t->pending) PrintStackTrace(t->pending, "Exception in thread \"" + t->name + "\" ");
        DetachCurrent();
    }).detach();
}

// System.exit runs the exit hook on a VM thread of its own, as HotSpot's VM thread does, and ends the
// process if the hook returns. Only the first call proceeds; every caller blocks until the process ends.
void ExitJava(jint status) {
    if (!Exiting.exchange(true))
        std::thread([status] {
            static JavaThread vmThread;
            vmThread.name = "VM Thread";
            Current = &vmThread;
            if (ExitHook) {
                TraceLine("exit-hook " + std::to_string(status));
                ExitHook(status);
            }
            exit(status);
        }).detach();
    for (;;) Sleep(INFINITE);
}

// HotSpot's report of a fatal error, then the abort hook; the process ends with status 1 (no message box).
void FatalJava(const std::string& text) {
    VmPrint("FATAL ERROR in native method: %s\n", text.c_str());
    if (AbortHook) AbortHook();
    _exit(1);
}

static bool IsSupportedJniVersion(jint v) {  // as HotSpot 17 for creating and attaching
    return v == JNI_VERSION_1_2 || v == JNI_VERSION_1_4 || v == JNI_VERSION_1_6 || v == JNI_VERSION_1_8 ||
           v == 0x00090000 || v == 0x000a0000;
}

static bool StartsWith(const char* text, const char* prefix) { return strncmp(text, prefix, strlen(prefix)) == 0; }
static bool IsHook(const char* s) { return !strcmp(s, "vfprintf") || !strcmp(s, "exit") || !strcmp(s, "abort"); }

// A system property, an accepted HotSpot option (its value unchecked), or HotSpot's complaint.
static bool TakeOption(const char* s) {
    static const char* const accepted[] = {"-Xmx", "-Xms", "-Xss", "-XX:", "-Xrs", "-ea", "-da", "-verbose"};
    const char* eq = strchr(s, '=');
    for (const char* prefix : accepted)
        if (StartsWith(s, prefix)) return true;
    if (StartsWith(s, "-D")) {
        std::string key = eq ? std::string(s + 2, eq) : std::string(s + 2);
        TraceLine("property " + key + "=" + (Properties[key] = eq ? eq + 1 : ""));
        return true;
    }
    VmPrint("Unrecognized option: %s\n", s);
    VmPrint("Error: Could not create the Java Virtual Machine.\n");
    return false;
}

// The hooks are taken first, so a complaint about any option reaches the vfprintf hook.
static bool TakeOptions(const JavaVMInitArgs& a) {
    for (jint i = 0; i < a.nOptions; i++) {
        const char* s = a.options[i].optionString;
        void* hook = a.options[i].extraInfo;
        if (!s) DoubleFailure("a null optionString is not modelled");
        TraceLine("option[" + std::to_string(i) + "] " + FromAnsi(s) + (!IsHook(s) ? "" : hook ? " hook" : " null-hook"));
        if (!strcmp(s, "vfprintf")) VfprintfHook = reinterpret_cast<decltype(VfprintfHook)>(hook);
        if (!strcmp(s, "exit")) ExitHook = reinterpret_cast<decltype(ExitHook)>(hook);
        if (!strcmp(s, "abort")) AbortHook = reinterpret_cast<decltype(AbortHook)>(hook);
    }
    wchar_t dir[MAX_PATH] = L"";
    DWORD n = GetCurrentDirectoryW(MAX_PATH, dir);
    Properties["user.dir"] = n < MAX_PATH ? Utf8(std::u16string(reinterpret_cast<char16_t*>(dir), n)) : "";  // too long: empty
    for (jint i = 0; i < a.nOptions; i++)
        if (!IsHook(a.options[i].optionString) && !TakeOption(FromAnsi(a.options[i].optionString).c_str())) return false;
    if (!Properties.count("java.class.path")) Properties["java.class.path"] = ".";  // the default
    // Entries are made absolute against the current directory, as the application class loader does.
    std::istringstream parts(Properties["java.class.path"]);
    for (std::string entry; std::getline(parts, entry, ';');) {
        n = GetFullPathNameW(Wide(entry).c_str(), MAX_PATH, dir, nullptr);
        if (!entry.empty())
            ClassPath.push_back(n > 0 && n < MAX_PATH ? Utf8(std::u16string(reinterpret_cast<char16_t*>(dir), n)) : entry);
    }
    return true;
}

static jint JNICALL DestroyJavaVM(JavaVM*) {
    TraceLine("jvm DestroyJavaVM");
    if (State != Created) return JNI_ERR;
    Current = Current ? Current : NewJavaThread("DestroyJavaVM");  // HotSpot attaches the caller first
    std::unique_lock<std::recursive_mutex> hold(VmLock);
    ThreadsChanged.wait(hold, [] { return LiveThreads == 1; });  // every other thread is non-daemon
    State = Destroyed;
    DetachCurrent();
    return JNI_OK;
}

// The name counts only when the arguments carry a supported version, as in HotSpot.
static jint JNICALL AttachCurrentThread(JavaVM*, void** penv, void* args) {
    const JavaVMAttachArgs* a = static_cast<const JavaVMAttachArgs*>(args);
    if (State != Created) return JNI_ERR;
    bool named = a && a->name && IsSupportedJniVersion(a->version);
    if (!Current) Current = NewJavaThread(named ? a->name : "Thread-" + std::to_string(UnnamedThreads++));
    *penv = &Current->env.env;
    return JNI_OK;
}

static jint JNICALL DetachCurrentThread(JavaVM*) {  // succeeds on a thread that is not attached
    if (Current) DetachCurrent();
    return JNI_OK;
}

extern "C" JNIEXPORT jint JNICALL JNI_CreateJavaVM(JavaVM** pvm, void** penv, void* args) {
    std::lock_guard<std::recursive_mutex> hold(VmLock);
    const JavaVMInitArgs& a = *static_cast<JavaVMInitArgs*>(args);
    if (State != None) return State == Created ? JNI_EEXIST : JNI_ERR;
    if (!IsSupportedJniVersion(a.version)) return JNI_EVERSION;
    if (a.ignoreUnrecognized) DoubleFailure("ignoreUnrecognized is not modelled");
    if (!TakeOptions(a)) return JNI_ERR;
    NativeTable = FillTables(InvokeTable);
    InvokeTable.DestroyJavaVM = DestroyJavaVM;
    InvokeTable.AttachCurrentThread = AttachCurrentThread;
    InvokeTable.DetachCurrentThread = DetachCurrentThread;
    TheJavaVm.functions = &InvokeTable;
    InitLibrary();
    State = Created;
    *pvm = &TheJavaVm;
    *penv = &(Current = NewJavaThread("main"))->env.env;
    return JNI_OK;
}

// The launcher only checks that this entry point exists.
extern "C" JNIEXPORT jint JNICALL JNI_GetDefaultJavaVMInitArgs(void*) {
    DoubleFailure("unmodelled JNI_GetDefaultJavaVMInitArgs called");
}
