// jvm_double_host: a minimal JNI host that does what a launcher does, step by step as a plan file says,
// so that tests can drive the test-double jvm.dll (or any jvm.dll) and read what happened.
//   jvm_double_host JVM_DLL PLAN_FILE WORK_DIR
// Each result goes to WORK_DIR\host.log; the hooks write there too, and vfprintf text to vfprintf.txt.
// Plan steps, one a line ("background A ; B" runs steps A and B on a thread of their own):
//   option TEXT | hooks | version HEX | ignore | create | property KEY VALUE | redirect SETTER FILE
//   main CLASS [ARGS] | main16 CLASS HEXUNITS | findclass NAME | method CLASS NAME SIG | attach NAME
//   detach | destroy | exit N | utf8 HEXBYTES | unmodelled | await TRACE_TEXT | join
#include <windows.h>

#include <jni.h>

#include <cstdio>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "jvm_hooks.h"

static std::string WorkDir;                       // from the command line
static std::mutex LogLock;                        // serialises host.log writers
static DWORD CreatingThread = 0;                  // the thread that created the VM
static JavaVM* Vm = nullptr;                      // the created VM
static thread_local JNIEnv* Env = nullptr;        // the calling thread's environment
static std::vector<JavaVMOption> Options;         // collected before create
static JavaVMInitArgs InitArgs = {JNI_VERSION_1_2, 0, nullptr, JNI_FALSE};
// Threads of background steps; never destroyed, so that exit() from a hook does not terminate on them.
static std::vector<std::thread>& Background = *new std::vector<std::thread>;

static void Log(const std::string& line) {
    std::lock_guard<std::mutex> hold(LogLock);
    std::ofstream(WorkDir + "\\host.log", std::ios::app | std::ios::binary) << line << "\n";
}

static jint JNICALL HostVfprintf(FILE*, const char* format, va_list args) {
    char text[4096];
    int n = vsnprintf(text, sizeof text, format, args);  // longer text is cut at 4095 bytes
    std::lock_guard<std::mutex> hold(LogLock);
    std::ofstream(WorkDir + "\\vfprintf.txt", std::ios::app | std::ios::binary) << text;
    return n;
}

static void JNICALL HostExit(jint status) {
    Log("exit-hook status=" + std::to_string(status) +
        (GetCurrentThreadId() == CreatingThread ? " creating-thread" : " other-thread"));
    exit(static_cast<int>(status));
}

static void JNICALL HostAbort(void) { Log("abort-hook"); }

// Typed pointers: a hook without JNICALL would not convert on x86.
static const JvmVfprintfHookFn VfprintfHookPtr = HostVfprintf;
static const JvmExitHookFn ExitHookPtr = HostExit;
static const JvmAbortHookFn AbortHookPtr = HostAbort;

// Prints and clears a pending exception as the launcher does; true when there was one.
static bool CheckException() {
    if (!Env->ExceptionCheck()) return false;
    Env->ExceptionDescribe();
    Env->ExceptionClear();
    return true;
}

static std::vector<std::string> Words(const std::string& text) {
    std::vector<std::string> words;
    std::istringstream in(text);
    for (std::string w; in >> w;) words.push_back(w);
    return words;
}

static std::string Bytes(const std::vector<std::string>& hex, size_t from) {
    std::string bytes;
    for (size_t i = from; i < hex.size(); i++) bytes += static_cast<char>(strtoul(hex[i].c_str(), nullptr, 16));
    return bytes;
}

static jobjectArray StringArray(const std::vector<std::string>& w, size_t from) {
    jclass string = Env->FindClass("java/lang/String");
    jobjectArray a = Env->NewObjectArray(static_cast<jsize>(w.size() - from), string, nullptr);
    for (size_t i = from; i < w.size(); i++)
        Env->SetObjectArrayElement(a, static_cast<jsize>(i - from), Env->NewStringUTF(w[i].c_str()));
    return a;
}

static jobjectArray Utf16Array(const std::vector<std::string>& w, size_t from) {
    std::u16string units;
    for (size_t i = from; i < w.size(); i++) units += static_cast<char16_t>(strtoul(w[i].c_str(), nullptr, 16));
    jobjectArray a = Env->NewObjectArray(1, Env->FindClass("java/lang/String"), nullptr);
    Env->SetObjectArrayElement(a, 0, Env->NewString(reinterpret_cast<const jchar*>(units.data()),
                                                     static_cast<jsize>(units.size())));
    return a;
}

// The launcher's order: the class, then main, then the argument array, then the call.
static void CallMain(const std::vector<std::string>& w, jobjectArray (*makeArgs)(const std::vector<std::string>&, size_t)) {
    jclass c = Env->FindClass(w[1].c_str());
    if (CheckException() || !c) return Log("main class-missing");
    jmethodID m = Env->GetStaticMethodID(c, "main", "([Ljava/lang/String;)V");
    if (CheckException() || !m) return Log("main method-missing");
    jobjectArray args = makeArgs(w, 2);
    Env->functions->CallStaticVoidMethod(Env, c, m, args);  // the C form, as a C-style host calls it
    Log(CheckException() ? "main threw" : "main returned");
}

static void Redirect(const std::string& setter, const std::string& file) {
    jstring name = Env->NewStringUTF(file.c_str());
    jclass fos = Env->FindClass("java/io/FileOutputStream");
    jmethodID fosInit = Env->GetMethodID(fos, "<init>", "(Ljava/lang/String;Z)V");
    jobject out = Env->NewObject(fos, fosInit, name, JNI_FALSE);
    if (CheckException() || !out) return Log("redirect failed");
    jclass ps = Env->FindClass("java/io/PrintStream");
    jobject print = Env->NewObject(ps, Env->GetMethodID(ps, "<init>", "(Ljava/io/OutputStream;)V"), out);
    jclass system = Env->FindClass("java/lang/System");
    Env->CallStaticVoidMethod(system, Env->GetStaticMethodID(system, setter.c_str(), "(Ljava/io/PrintStream;)V"), print);
    Log(CheckException() ? "redirect threw" : "redirect ok");
}

static void SetProperty(const std::string& key, const std::string& value) {
    jstring k = Env->NewStringUTF(key.c_str()), v = Env->NewStringUTF(value.c_str());
    jclass system = Env->FindClass("java/lang/System");
    jmethodID set = Env->GetStaticMethodID(system, "setProperty",
                                           "(Ljava/lang/String;Ljava/lang/String;)Ljava/lang/String;");
    Env->CallStaticObjectMethod(system, set, k, v);
    Log(CheckException() ? "property threw" : "property ok");
}

static void Create() {
    InitArgs.nOptions = static_cast<jint>(Options.size());
    InitArgs.options = Options.data();
    HMODULE dll = GetModuleHandleA("jvm.dll");
    typedef jint(JNICALL * CreateFn)(JavaVM**, void**, void*);
    CreateFn create = reinterpret_cast<CreateFn>(reinterpret_cast<void*>(GetProcAddress(dll, "JNI_CreateJavaVM")));
    CreatingThread = GetCurrentThreadId();
    jint result = create(&Vm, reinterpret_cast<void**>(&Env), &InitArgs);
    Log("create " + std::to_string(result));
    if (result != JNI_OK) exit(2);
}

static void Attach(const std::string& name) {
    JavaVMAttachArgs args = {0x00010004, const_cast<char*>(name.c_str()), nullptr};
    Log("attach " + std::to_string(Vm->AttachCurrentThread(reinterpret_cast<void**>(&Env), &args)));
}

static void Await(const std::string& text) {
    char trace[MAX_PATH];
    GetEnvironmentVariableA("KESTRUN_JVM_TRACE", trace, sizeof trace);  // set by main; fits
    for (int waited = 0; waited < 20000; waited += 10) {
        std::ifstream in(trace);
        std::stringstream all;
        all << in.rdbuf();
        if (all.str().find(text) != std::string::npos) return;
        Sleep(10);  // polling the trace for the awaited line
    }
    Log("await timed out: " + text);
    exit(99);
}

static void RunStep(const std::string& line);

static void RunSteps(const std::string& text) {
    std::istringstream parts(text);
    for (std::string step; std::getline(parts, step, ';');) {
        size_t first = step.find_first_not_of(' '), last = step.find_last_not_of(' ');
        if (first != std::string::npos) RunStep(step.substr(first, last - first + 1));
    }
}

static void AddOption(const std::string& text, void* extra) {
    Options.push_back(JavaVMOption{_strdup(text.c_str()), extra});
}

static void RunStep(const std::string& line) {
    std::vector<std::string> w = Words(line);
    std::string rest = w.size() > 1 ? line.substr(line.find(' ') + 1) : "";
    if (w.empty()) return;
    const std::string& s = w[0];
    if (s == "option") AddOption(rest, nullptr);
    else if (s == "hooks") {
        AddOption("vfprintf", reinterpret_cast<void*>(VfprintfHookPtr));
        AddOption("abort", reinterpret_cast<void*>(AbortHookPtr));
        AddOption("exit", reinterpret_cast<void*>(ExitHookPtr));
    } else if (s == "version") InitArgs.version = static_cast<jint>(strtoul(w[1].c_str(), nullptr, 16));
    else if (s == "ignore") InitArgs.ignoreUnrecognized = JNI_TRUE;
    else if (s == "create") Create();
    else if (s == "property") SetProperty(w[1], w.size() > 2 ? w[2] : "");
    else if (s == "redirect") Redirect(w[1], w[2]);
    else if (s == "main") CallMain(w, StringArray);
    else if (s == "main16") CallMain(w, Utf16Array);
    else if (s == "findclass") {
        jclass c = Env->FindClass(w[1].c_str());
        Log(std::string("findclass ") + (CheckException() || !c ? "missing" : "found"));
    } else if (s == "method") {
        jclass c = Env->FindClass(w[1].c_str());
        jmethodID m = c ? Env->GetStaticMethodID(c, w[2].c_str(), w[3].c_str()) : nullptr;
        Log(std::string("method ") + (CheckException() || !m ? "missing" : "found"));
    } else if (s == "attach") Attach(rest);
    else if (s == "detach") Log("detach " + std::to_string(Vm->DetachCurrentThread()));
    else if (s == "destroy") Log("destroy " + std::to_string(Vm->DestroyJavaVM()));
    else if (s == "exit") {
        jclass system = Env->FindClass("java/lang/System");
        Env->CallStaticVoidMethod(system, Env->GetStaticMethodID(system, "exit", "(I)V"), atoi(w[1].c_str()));
        Log("exit returned");
    } else if (s == "utf8") {
        Env->NewStringUTF(Bytes(w, 1).c_str());
        Log("utf8 accepted");
    } else if (s == "unmodelled") {
        Env->MonitorEnter(nullptr);
        Log("unmodelled returned");
    } else if (s == "await") Await(rest);
    else if (s == "background") Background.emplace_back(RunSteps, rest);
    else if (s == "join") {
        for (std::thread& t : Background) t.join();
        Background.clear();
    } else {
        Log("unknown step " + s);
        exit(98);
    }
}

int main(int argc, char** argv) {
    if (argc != 4) {
        fprintf(stderr, "usage: jvm_double_host JVM_DLL PLAN_FILE WORK_DIR\n");
        return 97;
    }
    WorkDir = argv[3];
    SetEnvironmentVariableA("KESTRUN_JVM_TRACE", (WorkDir + "\\trace.txt").c_str());
    if (!LoadLibraryA(argv[1])) {
        fprintf(stderr, "cannot load %s (error %lu)\n", argv[1], GetLastError());
        return 96;
    }
    std::ifstream plan(argv[2]);
    for (std::string line; std::getline(plan, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty() && line[0] != '#') RunStep(line);
    }
    for (std::thread& t : Background) t.join();
    Log("host end");
    return 0;
}
