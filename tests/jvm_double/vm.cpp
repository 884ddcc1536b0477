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
static JavaThread VmThread = {{}, "VM Thread"};  // the Java thread of every thread the VM runs itself
static std::atomic<bool> Exiting(false);  // set by the first System.exit
static unsigned long long MaxHeap = 0;  // -Xmx; 0: not given
static bool CompressedOops = false;                      // -XX:+UseCompressedOops given
static FILE* GcLog = nullptr;    // -verbose:gc, -Xlog:gc: stdout, stderr or a file of the VM's C library
static bool GcDetails = false;   // -Xlog:gc*: the start-up, phase and heap-at-exit lines too
static DWORD StartTicks = GetTickCount();
static int Collections = 0;      // numbers "GC(N)"

// One unified-logging line, as HotSpot writes it to its log's FILE*.
static void GcLine(const char* tags, const std::string& text) {
    if (GcLog) VmPrint(GcLog, "[%.3fs][info][%s] %s\n", (GetTickCount() - StartTicks) / 1000.0, tags, text.c_str());
}

static void GcLogAtStart() {
    GcLine("gc", "Using G1");
    if (GcDetails) GcLine("gc,init", "Heap Region Size: 1M");
}

static void GcLogAtExit() {
    if (GcDetails) GcLine("gc,heap,exit", "Heap");
}

// System.gc(): a full collection on the VM thread, which the caller waits for.
void CollectGarbage() {
    std::thread([] {
        Current = &VmThread;
        std::string gc = "GC(" + std::to_string(Collections++) + ") ";
        if (GcDetails) GcLine("gc,start", gc + "Pause Full (System.gc())");
        GcLine("gc", gc + "Pause Full (System.gc()) 1M->1M(8M) 1.000ms");
        if (GcDetails) GcLine("gc,cpu", gc + "User=0.00s Sys=0.00s Real=0.00s");
    }).join();
}

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
    std::wstring wide(strlen(text), L'\0');
    wide.resize(MultiByteToWideChar(CP_ACP, 0, text, wide.size(), &wide[0], wide.size()));
    return Utf8(wide);
}

// VM text goes through the vfprintf hook with HotSpot's own format and arguments and the stream it is
// meant for (a FILE* of the VM's C library, ucrtbase), else straight to that stream.
void VmPrint(FILE* stream, const char* format, ...) {
    va_list args;
    va_start(args, format);
    VfprintfHook ? VfprintfHook(stream, format, args) : vfprintf(stream, format, args);
    va_end(args);
    fflush(stream);
}

// HotSpot's warning(): only its prefix goes through the hook; the message and the line end are written
// to the C library's stderr directly.
static void VmWarning(const char* text) {
    VmPrint(stderr, "OpenJDK 64-Bit Server VM warning: ");
    fprintf(stderr, "%s\n", text);
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
    if (!Exiting.exchange(true)) {
        GcLogAtExit();
        std::thread([status] {
            Current = &VmThread;
            if (ExitHook) {
                TraceLine("exit-hook " + std::to_string(status));
                ExitHook(status);
            }
            exit(status);
        }).detach();
    }
    for (;;) Sleep(INFINITE);
}

// HotSpot's report of a fatal error (on its tty, stdout), then the abort hook; the process ends with
// status 1 (no message box).
void FatalJava(const std::string& text) {
    VmPrint(stdout, "FATAL ERROR in native method: %s\n", text.c_str());
    if (AbortHook) AbortHook();
    _exit(1);
}

static bool IsSupportedJniVersion(jint v) {  // as HotSpot 17 for creating and attaching
    return v == JNI_VERSION_1_2 || v == JNI_VERSION_1_4 || v == JNI_VERSION_1_6 || v == JNI_VERSION_1_8 ||
           v == 0x00090000 || v == 0x000a0000;
}

static bool StartsWith(const char* text, const char* prefix) { return strncmp(text, prefix, strlen(prefix)) == 0; }
static bool IsHook(const char* s) { return !strcmp(s, "vfprintf") || !strcmp(s, "exit") || !strcmp(s, "abort"); }

// A size as -Xmx takes it: digits and at most one unit letter (k, m, g, t, any case); 0 when malformed.
static unsigned long long MemorySize(const char* text) {
    char* unit = nullptr;
    unsigned long long n = strtoull(text, &unit, 10);
    static const char units[] = "kKmMgGtT";
    const char* found = *unit && !unit[1] ? strchr(units, *unit) : nullptr;
    return unit == text || (*unit && !found) ? 0 : found ? n << 10 * ((found - units) / 2 + 1) : n;
}

// The -XX flags the double knows (their values unchecked); HotSpot refuses any other.
static bool IsKnownFlag(const char* flag) {
    std::string name = std::string(flag + (*flag == '+' || *flag == '-')), known = " UseCompressedOops UseG1GC "
        "UseSerialGC HeapDumpOnOutOfMemoryError MaxRAMPercentage ArchiveClassesAtExit SharedArchiveFile ";
    return known.find(" " + name.substr(0, name.find('=')) + " ") != std::string::npos;
}

// The GC log of -verbose:gc and -Xlog:gc[*][:stdout|:stderr|:file=NAME]; false for another -Xlog form.
static bool TakeGcLog(const char* s) {
    std::string rest = StartsWith(s, "-verbose:gc") ? s + 11 : StartsWith(s, "-Xlog:gc") ? s + 8 : "?";
    if (rest[0] == '*') GcDetails = true, rest.erase(0, 1);
    if (rest.empty() || rest == ":stdout") GcLog = stdout;
    else if (rest == ":stderr") GcLog = stderr;
    else if (rest.compare(0, 6, ":file=") == 0) GcLog = _wfopen(Wide(rest.substr(6)).c_str(), L"w");
    return GcLog != nullptr;
}

// A system property, an accepted HotSpot option, or HotSpot's complaint and its result (JNI_OK when taken).
static jint TakeOption(const char* s, bool ignoreUnrecognized) {
    static const char* const accepted[] = {"-Xms", "-Xss", "-Xrs", "-ea", "-da", "--add-opens=", "--add-exports=",
                                           "--add-reads=", "--add-modules="};
    const char* eq = strchr(s, '=');
    for (const char* prefix : accepted)
        if (StartsWith(s, prefix)) return JNI_OK;
    if (StartsWith(s, "-D")) {
        std::string key = eq ? std::string(s + 2, eq) : std::string(s + 2);
        TraceLine("property " + key + "=" + (Properties[key] = eq ? eq + 1 : ""));
        return JNI_OK;
    }
    if (StartsWith(s, "-Xmx")) {
        if ((MaxHeap = MemorySize(s + 4))) return JNI_OK;
        VmPrint(stderr, "Invalid maximum heap size: %s\n", s);
        return JNI_EINVAL;
    }
    if (StartsWith(s, "-XX:")) {
        CompressedOops = CompressedOops || !strcmp(s, "-XX:+UseCompressedOops");
        if (IsKnownFlag(s + 4) || ignoreUnrecognized) return JNI_OK;
        VmPrint(stderr, "Unrecognized VM option '%s'\n", s + 4 + (s[4] == '+' || s[4] == '-'));
        return JNI_EINVAL;
    }
    if (StartsWith(s, "-verbose:gc") || StartsWith(s, "-Xlog:")) {
        if (!TakeGcLog(s)) DoubleFailure(std::string("unmodelled logging option ") + s);
        return JNI_OK;
    }
    if (StartsWith(s, "-verbose") || ignoreUnrecognized) return JNI_OK;
    VmPrint(stderr, "Unrecognized option: %s\n", s);
    return JNI_ERR;
}

// The options in their order: a hook serves from its own position on, so a complaint about an option
// that comes before the vfprintf hook goes to stderr. The first refused option ends the creation.
static jint TakeOptions(const JavaVMInitArgs& a) {
    wchar_t dir[MAX_PATH] = L"";
    DWORD n = GetCurrentDirectoryW(MAX_PATH, dir);
    Properties["user.dir"] = n < MAX_PATH ? Utf8(std::wstring(dir, n)) : "";  // too long: empty
    for (jint i = 0; i < a.nOptions; i++) {
        const char* s = a.options[i].optionString;
        void* hook = a.options[i].extraInfo;
        if (!s) DoubleFailure("a null optionString is not modelled");
        TraceLine("option[" + std::to_string(i) + "] " + FromAnsi(s) + (!IsHook(s) ? "" : hook ? " hook" : " null-hook"));
        if (!strcmp(s, "vfprintf")) VfprintfHook = reinterpret_cast<decltype(VfprintfHook)>(hook);
        if (!strcmp(s, "exit")) ExitHook = reinterpret_cast<decltype(ExitHook)>(hook);
        if (!strcmp(s, "abort")) AbortHook = reinterpret_cast<decltype(AbortHook)>(hook);
        jint result = IsHook(s) ? JNI_OK : TakeOption(FromAnsi(s).c_str(), a.ignoreUnrecognized);
        if (result != JNI_OK) return result;
    }
    if (CompressedOops && MaxHeap >= (32ull << 30)) VmWarning("Max heap size too large for Compressed Oops");
    if (!Properties.count("java.class.path")) Properties["java.class.path"] = ".";  // the default
    // Entries are made absolute against the current directory, as the application class loader does.
    std::istringstream parts(Properties["java.class.path"]);
    for (std::string entry; std::getline(parts, entry, ';');) {
        n = GetFullPathNameW(Wide(entry).c_str(), MAX_PATH, dir, nullptr);
        if (!entry.empty())
            ClassPath.push_back(n > 0 && n < MAX_PATH ? Utf8(std::wstring(dir, n)) : entry);
    }
    return JNI_OK;
}

static jint JNICALL DestroyJavaVM(JavaVM*) {
    TraceLine("jvm DestroyJavaVM");
    if (State != Created) return JNI_ERR;
    Current = Current ? Current : NewJavaThread("DestroyJavaVM");  // HotSpot attaches the caller first
    std::unique_lock<std::recursive_mutex> hold(VmLock);
    ThreadsChanged.wait(hold, [] { return LiveThreads == 1; });  // every other thread is non-daemon
    GcLogAtExit();
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
    jint result = TakeOptions(a);
    if (result != JNI_OK) return result;
    // A test holds the creation up while the file KESTRUN_JVM_HOLD names exists.
    wchar_t held[MAX_PATH];
    for (bool traced = false; GetEnvironmentVariableW(L"KESTRUN_JVM_HOLD", held, MAX_PATH) &&
                              GetFileAttributesW(held) != INVALID_FILE_ATTRIBUTES; traced = true)
        traced ? Sleep(10) : TraceLine("hold");
    NativeTable = FillTables(InvokeTable);
    InvokeTable.DestroyJavaVM = DestroyJavaVM;
    InvokeTable.AttachCurrentThread = AttachCurrentThread;
    InvokeTable.DetachCurrentThread = DetachCurrentThread;
    TheJavaVm.functions = &InvokeTable;
    InitLibrary();
    State = Created;
    *pvm = &TheJavaVm;
    *penv = &(Current = NewJavaThread("main"))->env.env;
    GcLogAtStart();
    return JNI_OK;
}

// As HotSpot: JNI_OK for the JNI versions the runtime takes. The double is Java 17 unless the release file
// of its home (a folder above it) names a 1.x version: then JNI_VERSION_1_8 is its newest, as Java 8's.
extern "C" JNIEXPORT jint JNICALL JNI_GetDefaultJavaVMInitArgs(void* args) {
    wchar_t path[MAX_PATH] = {}, release[MAX_PATH + 9];  // room for the name: a path that fits is never cut
    HMODULE self = NULL;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       (LPCWSTR)(void*)&JNI_GetDefaultJavaVMInitArgs, &self);
    GetModuleFileNameW(self, path, MAX_PATH);
    char text[256] = {};
    for (wchar_t* end; text[0] == 0 && (end = wcsrchr(path, L'\\')) != NULL; *end = 0) {
        _snwprintf(release, MAX_PATH + 9, L"%.*ls\\release", (int)(end - path), path);
        if (FILE* file = _wfopen(release, L"rb"))
            fread(text, 1, sizeof(text) - 1, file), fclose(file);
    }
    jint version = *(jint*)args;
    return IsSupportedJniVersion(version) && (version <= JNI_VERSION_1_8 || !strstr(text, "JAVA_VERSION=\"1.")) ? JNI_OK : JNI_ERR;
}
