// The exported entry points and the invocation interface: creating the one VM of the process from its
// JavaVMInitArgs, attaching and detaching threads, and DestroyJavaVM.
#include "jvm_double.h"

#include <cstring>

JvmVfprintfHookFn VfprintfHook = nullptr;  // set from the "vfprintf" option at creation
JvmExitHookFn ExitHook = nullptr;          // set from the "exit" option at creation
JvmAbortHookFn AbortHook = nullptr;        // set from the "abort" option at creation
JavaVM TheJavaVm;                          // its table is filled at creation

enum class VmState { None, Created, Destroyed };
static VmState State = VmState::None;      // under VmLock
static JNIInvokeInterface_ InvokeTable;
static void FillInvokeTable(JNIInvokeInterface_& table);

void VmPrint(const char* format, ...) {
    va_list args;
    va_start(args, format);
    if (VfprintfHook) {
        VfprintfHook(stderr, format, args);  // HotSpot hands the hook its own format and arguments
    } else {
        vfprintf(stderr, format, args);
        fflush(stderr);
    }
    va_end(args);
}

bool IsSupportedJniVersion(jint version) {
    static const jint versions[] = {JNI_VERSION_1_2, JNI_VERSION_1_4, JNI_VERSION_1_6, JNI_VERSION_1_8,
                                    0x00090000, 0x000a0000};
    for (jint v : versions)
        if (v == version) return true;
    return false;
}

/* options */

static bool IsSize(const char* text) {
    if (!isdigit(static_cast<unsigned char>(*text))) return false;
    while (isdigit(static_cast<unsigned char>(*text))) text++;
    return *text == '\0' || (strchr("kKmMgGtT", *text) && text[1] == '\0');
}

struct SizeOption {
    const char* prefix;
    const char* error;
};

static const SizeOption SizeOptions[] = {
    {"-Xmx", "Invalid maximum heap size"}, {"-Xms", "Invalid initial heap size"},
    {"-Xmn", "Invalid new generation size"}, {"-Xss", "Invalid thread stack size"},
};

// Options accepted as they are (prefix match): enough of HotSpot's for tests to pass realistic ones.
static const char* const PlainOptions[] = {
    "-XX:", "-Xint", "-Xmixed", "-Xcomp", "-Xbatch", "-Xrs", "-Xcheck:jni", "-Xnoclassgc", "-Xverify",
    "-Xshare:", "-Xlog", "-Xdiag", "-Xdebug", "-Xrunjdwp:", "-Xbootclasspath/a:", "-Xloggc:", "-verbose",
    "-ea", "-da", "-esa", "-dsa", "-enableassertions", "-disableassertions", "-enablesystemassertions",
    "-disablesystemassertions", "-javaagent:", "-agentlib:", "-agentpath:", "--add-opens=", "--add-exports=",
    "--add-modules=", "--enable-native-access=",
};

static bool StartsWith(const char* text, const char* prefix) { return strncmp(text, prefix, strlen(prefix)) == 0; }

// Reports a bad option as HotSpot does; returns the creation result.
static jint RejectOption(const char* error, const char* option, jint result) {
    VmPrint("%s: %s\n", error, option);
    VmPrint("Error: Could not create the Java Virtual Machine.\n");
    TraceLine("rejected %s", option);
    return result;
}

// Takes one option; returns JNI_OK or the creation failure (after printing its diagnostic).
static jint TakeOption(const JavaVMOption& o, bool ignoreUnrecognized) {
    const char* s = o.optionString;
    if (strncmp(s, "-D", 2) == 0) {
        const char* eq = strchr(s, '=');
        std::string key = eq ? std::string(s + 2, eq) : std::string(s + 2);
        SetJavaProperty(key, eq ? eq + 1 : "");
        TraceLine("property %s=%s", key.c_str(), eq ? eq + 1 : "");
        return JNI_OK;
    }
    for (const SizeOption& size : SizeOptions)
        if (StartsWith(s, size.prefix))
            return IsSize(s + 4) ? JNI_OK : RejectOption(size.error, s, JNI_EINVAL);
    for (const char* prefix : PlainOptions)
        if (StartsWith(s, prefix)) return JNI_OK;
    if (ignoreUnrecognized && (StartsWith(s, "-X") || StartsWith(s, "_"))) return JNI_OK;
    return RejectOption("Unrecognized option", s, JNI_ERR);
}

// The hooks come from the options before any other option is judged, so a diagnostic about a bad
// option always reaches the vfprintf hook when the host gave one.
static void TakeHooks(const JavaVMInitArgs& a) {
    for (jint i = 0; i < a.nOptions; i++) {
        const JavaVMOption& o = a.options[i];
        if (strcmp(o.optionString, "vfprintf") == 0) VfprintfHook = reinterpret_cast<JvmVfprintfHookFn>(o.extraInfo);
        if (strcmp(o.optionString, "exit") == 0) ExitHook = reinterpret_cast<JvmExitHookFn>(o.extraInfo);
        if (strcmp(o.optionString, "abort") == 0) AbortHook = reinterpret_cast<JvmAbortHookFn>(o.extraInfo);
    }
}

static void TraceArguments(const JavaVMInitArgs& a) {
    TraceLine("create version=0x%08lx nOptions=%ld ignoreUnrecognized=%d", static_cast<unsigned long>(a.version),
              static_cast<long>(a.nOptions), a.ignoreUnrecognized ? 1 : 0);
    for (jint i = 0; i < a.nOptions; i++) {
        const char* s = a.options[i].optionString;
        if (!s) DoubleFailure("option %ld has a null optionString", static_cast<long>(i));
        bool hook = !strcmp(s, "vfprintf") || !strcmp(s, "exit") || !strcmp(s, "abort");
        TraceLine("option[%ld] %s%s", static_cast<long>(i), s, hook ? (a.options[i].extraInfo ? " hook" : " null-hook") : "");
    }
}

static void SetDefaultProperties() {
    char dir[MAX_PATH];
    DWORD n = GetCurrentDirectoryA(sizeof dir, dir);
    SetJavaProperty("user.dir", (n > 0 && n < sizeof dir) ? dir : "");  // too long: left empty
    SetJavaProperty("java.version", "17.0.99");
    SetJavaProperty("java.vendor", "Kestrun JVM test double");
    SetJavaProperty("file.separator", "\\");
    SetJavaProperty("path.separator", ";");
    SetJavaProperty("line.separator", "\r\n");
}

static jint TakeOptions(const JavaVMInitArgs& a) {
    TakeHooks(a);
    SetDefaultProperties();
    for (jint i = 0; i < a.nOptions; i++) {
        const char* s = a.options[i].optionString;
        if (!strcmp(s, "vfprintf") || !strcmp(s, "exit") || !strcmp(s, "abort")) continue;
        jint result = TakeOption(a.options[i], a.ignoreUnrecognized);
        if (result != JNI_OK) return result;
    }
    const std::string* cp = GetJavaProperty("java.class.path");
    if (!cp) SetJavaProperty("java.class.path", ".");  // the class path when none is given
    SetClassPath(*GetJavaProperty("java.class.path"));
    TraceLine("classpath %s", GetJavaProperty("java.class.path")->c_str());
    for (const std::string& entry : ClassPathEntries) TraceLine("classpath-entry %s", entry.c_str());
    return JNI_OK;
}

static jint CreateVm(JavaVM** pvm, void** penv, const JavaVMInitArgs& a) {
    if (State != VmState::None) return State == VmState::Created ? JNI_EEXIST : JNI_ERR;
    if (!IsSupportedJniVersion(a.version)) return JNI_EVERSION;
    jint result = TakeOptions(a);
    if (result != JNI_OK) return result;
    FillUnmodelledInvoke(InvokeTable);
    FillInvokeTable(InvokeTable);
    TheJavaVm.functions = &InvokeTable;
    InitSystemStreams();
    State = VmState::Created;
    JavaThread* main = AttachJavaThread("main", false);
    *pvm = &TheJavaVm;
    *penv = &main->env.env;
    return JNI_OK;
}

extern "C" JNIEXPORT jint JNICALL JNI_CreateJavaVM(JavaVM** pvm, void** penv, void* args) {
    std::lock_guard<std::recursive_mutex> hold(VmLock);
    const JavaVMInitArgs& a = *static_cast<JavaVMInitArgs*>(args);
    TraceArguments(a);
    jint result = CreateVm(pvm, penv, a);
    TraceLine("create-result %ld", static_cast<long>(result));
    return result;
}

extern "C" JNIEXPORT jint JNICALL JNI_GetDefaultJavaVMInitArgs(void* args) {
    JavaVMInitArgs* a = static_cast<JavaVMInitArgs*>(args);  // every version's structure starts with version
    TraceLine("GetDefaultJavaVMInitArgs version=0x%08lx", static_cast<unsigned long>(a->version));
    if (a->version == JNI_VERSION_1_1) {
        a->version = JNI_VERSION_1_2;  // HotSpot answers a 1.1 request with its own version only
        return JNI_OK;
    }
    return IsSupportedJniVersion(a->version) ? JNI_OK : JNI_ERR;
}

extern "C" JNIEXPORT jint JNICALL JNI_GetCreatedJavaVMs(JavaVM** vms, jsize size, jsize* count) {
    std::lock_guard<std::recursive_mutex> hold(VmLock);
    jsize n = State == VmState::Created ? 1 : 0;
    if (count) *count = n;
    if (n && size > 0) vms[0] = &TheJavaVm;
    TraceLine("GetCreatedJavaVMs count=%ld", static_cast<long>(n));
    return JNI_OK;
}

/* the invocation interface */

static jint JNICALL DestroyJavaVM(JavaVM*) {
    JavaThread* t = CurrentJavaThread();
    TraceLine("jvm DestroyJavaVM");
    if (State != VmState::Created) return JNI_ERR;
    if (!t) t = AttachJavaThread("DestroyJavaVM", false);  // HotSpot attaches the caller first
    WaitForNonDaemonThreads(t);
    {
        std::lock_guard<std::recursive_mutex> hold(VmLock);
        State = VmState::Destroyed;
    }
    TraceLine("destroyed");
    DetachJavaThread(t);
    return JNI_OK;
}

static jint Attach(void** penv, void* args, bool daemon, const char* function) {
    const JavaVMAttachArgs* a = static_cast<const JavaVMAttachArgs*>(args);
    JavaThread* t = CurrentJavaThread();
    if (State != VmState::Created) {
        TraceLine("jvm %s refused: no VM", function);
        return JNI_ERR;
    }
    if (!t) {
        // Name and group count only when the arguments carry a supported version, as in HotSpot.
        const char* name = (a && IsSupportedJniVersion(a->version)) ? a->name : nullptr;
        t = AttachJavaThread(name, daemon);
    }
    TraceLine("jvm %s name=\"%s\" version=0x%08lx", function, t->name.c_str(),
              a ? static_cast<unsigned long>(a->version) : 0ul);
    *penv = &t->env.env;
    return JNI_OK;
}

static jint JNICALL AttachCurrentThread(JavaVM*, void** penv, void* args) {
    return Attach(penv, args, false, "AttachCurrentThread");
}

static jint JNICALL AttachCurrentThreadAsDaemon(JavaVM*, void** penv, void* args) {
    return Attach(penv, args, true, "AttachCurrentThreadAsDaemon");
}

static jint JNICALL DetachCurrentThread(JavaVM*) {
    JavaThread* t = CurrentJavaThread();
    TraceLine("jvm DetachCurrentThread%s", t ? "" : " (not attached)");
    if (!t) return JNI_OK;
    if (t->javaDepth > 0) return JNI_ERR;  // Java frames are on this thread's stack
    DetachJavaThread(t);
    return JNI_OK;
}

static jint JNICALL GetEnv(JavaVM*, void** penv, jint version) {
    JavaThread* t = CurrentJavaThread();
    TraceLine("jvm GetEnv version=0x%08lx", static_cast<unsigned long>(version));
    *penv = nullptr;
    if (!t) return JNI_EDETACHED;
    if (version != JNI_VERSION_1_1 && !IsSupportedJniVersion(version)) return JNI_EVERSION;
    *penv = &t->env.env;
    return JNI_OK;
}

static void FillInvokeTable(JNIInvokeInterface_& table) {
    table.DestroyJavaVM = DestroyJavaVM;
    table.AttachCurrentThread = AttachCurrentThread;
    table.DetachCurrentThread = DetachCurrentThread;
    table.GetEnv = GetEnv;
    table.AttachCurrentThreadAsDaemon = AttachCurrentThreadAsDaemon;
    CheckTableComplete(&table, sizeof table, 3, "JNIInvokeInterface_");
}
