#include "jvm.h"

#include "capture.h"
#include "entry.h"
#include "format.h"
#include "growable.h"
#include "jre.h"
#include "launch_log.h"
#include "machine_text.h"
#include "report.h"
#include "settings.h"

#include <stdlib.h>
#include <string.h>

HMODULE JvmLibrary = NULL;
JavaVM* JavaVm = NULL;
JNIEnv* CreatingEnv = NULL;
// Guards JavaVm between a stopper's attach and its clearing by ReleaseJvm.
static SRWLOCK JvmGuard = SRWLOCK_INIT;
// Set under JvmGuard just before DestroyJavaVM: from then on an attach may be refused without fault.
static bool JvmEnding = false;

// The entry points of jvm.dll; the second must exist but is never called.
typedef jint(JNICALL* CreateJavaVmEntry)(JavaVM** vm, void** env, void* args);
static CreateJavaVmEntry CreateJavaVm = NULL;
static FARPROC DefaultInitArgsEntry = NULL;

bool SelectWorkingDirectory(bool configuredOnly)
{
    if (!configuredOnly && LauncherSettings.UseStartDirectory) {
        if (!SetCurrentDirectoryW(StartDirectory)) {
            DWORD error = GetLastError();
            char described[1024];
            DescribeWideText(StartDirectory, described, sizeof(described));
            SetLastError(error);
            ShowErrorWithReason(LauncherSettings.MsgFileAccess, described);
            return false;
        }
        return true;
    }
    if (LauncherSettings.WorkingDirectory[0] == 0)
        return true;
    if (!SetCurrentDirectoryA(LauncherSettings.WorkingDirectory)) {
        ShowErrorWithReason(LauncherSettings.MsgFileAccess, LauncherSettings.WorkingDirectory);
        return false;
    }
    return true;
}

BOOL WINAPI IgnoreLogoffCtrlHandler(DWORD ctrlType)
{
    return ctrlType == CTRL_LOGOFF_EVENT ? TRUE : FALSE;
}

// Loads jvm.dll so that the DLLs it imports are found where a runtime ships them: beside it (the
// altered search path) and in the runtime's bin folder, the folder above its own, which takes the
// place of the current directory in the search. A path that does not fit is loaded as it is.
// The path is the ANSI one the search gave (a short name where the code page lacks a character of the
// long one): a runtime finds its home from its own module name, which it reads in the ANSI code page.
static HMODULE LoadJvmLibrary(const char* path)
{
    WCHAR* wide = WidenText(path);
    if (wide == NULL)
        return NULL;
    WCHAR full[MAX_PATH];
    DWORD length = GetFullPathNameW(wide, MAX_PATH, full, NULL);
    if (length == 0 || length >= MAX_PATH) {
        HMODULE library = LoadLibraryW(wide);
        free(wide);
        return library;
    }
    free(wide);
    // A relative path was made whole with the current folder, which the code page may not carry.
    char* ansiFull = MakeAnsiPath(full);
    WCHAR* wideFull = ansiFull != NULL ? WidenText(ansiFull) : NULL;
    if (wideFull != NULL && wcslen(wideFull) < MAX_PATH)
        length = (DWORD)wcslen(wcscpy(full, wideFull));
    free(ansiFull);
    free(wideFull);
    WCHAR bin[MAX_PATH];
    memcpy(bin, full, ((size_t)length + 1) * sizeof(WCHAR));
    for (int level = 0; level < 2; level++) {
        WCHAR* slash = wcsrchr(bin, '\\');
        if (slash == NULL)
            return LoadLibraryExW(full, NULL, LOAD_WITH_ALTERED_SEARCH_PATH);
        *slash = 0;
    }
    // A drive alone ("C:") would mean that drive's current directory: it is not added.
    if (wcslen(bin) > 2)
        SetDllDirectoryW(bin);
    return LoadLibraryExW(full, NULL, LOAD_WITH_ALTERED_SEARCH_PATH);
}

// What the runtime search considered, one line per candidate, for the report when it takes none.
static GrowableString SearchAccount = {};

static void NoteCandidate(const RuntimeCandidateReport* report)
{
    char line[1200]; // a line that does not fit is kept cut, marked "..."
    if (!FormatText(line, sizeof(line), "[%c] %s%s%s%s%s%s%s: %s", report->Method, report->Source,
                    report->Home[0] ? ", home " : "", report->Home, report->Jvm[0] ? ", jvm.dll " : "", report->Jvm, report->Version[0] ? ", version " : "",
                    report->Version, report->Verdict))
        MarkTextCut(line, sizeof(line));
    LaunchLog("runtime search: %s", line);
    AppendText(&SearchAccount, line);
    AppendText(&SearchAccount, "\r\n");
}

// Runs the runtime search; when it finds nothing, the report's details say what it considered.
static bool SearchJavaRuntime(char* found, size_t size)
{
    char header[400]; // an order too long for the header is shown cut
    if (!FormatText(header, sizeof(header), "Search order \"%s\":\r\n", LauncherSettings.JreSearchOrder))
        MarkTextCut(header, sizeof(header));
    AppendText(&SearchAccount, header);
    LaunchLog("runtime search: order \"%s\", oldest %s, newest %s", LauncherSettings.JreSearchOrder,
              LauncherSettings.JavaVersion[0] ? LauncherSettings.JavaVersion : "any",
              LauncherSettings.JavaMaxVersion[0] ? LauncherSettings.JavaMaxVersion : "any");
    RuntimeSearchReporter = NoteCandidate;
    bool ok = FindJavaRuntime(found, size);
    RuntimeSearchReporter = NULL;
    if (!ok) {
        if (SearchAccount.length == strlen(header))
            AppendText(&SearchAccount, "no runtime was found by any method\r\n");
        LaunchLog("runtime search: no runtime taken");
        char needed[128]; // a maximum too long for it is shown cut
        DescribeNeededJava(needed, sizeof(needed));
        ShowErrorWithDetails(SearchAccount.text != NULL ? SearchAccount.text : "", LauncherSettings.MsgNoJre, needed);
    }
    FreeGrowableString(&SearchAccount);
    return ok;
}

// Logs the loaded jvm.dll with the file version of its version resource (read from the module: no
// version library is linked).
static void LogJvmVersion(const char* path)
{
    HRSRC found = LaunchLogFile != NULL ? FindResourceA(JvmLibrary, MAKEINTRESOURCEA(1), (LPCSTR)RT_VERSION) : NULL;
    const BYTE* data = found != NULL ? (const BYTE*)LockResource(LoadResource(JvmLibrary, found)) : NULL;
    DWORD size = found != NULL ? SizeofResource(JvmLibrary, found) : 0;
    // The fixed part follows the key "VS_VERSION_INFO"; it is found by its signature, 4-byte aligned.
    for (DWORD at = 0; data != NULL && at + sizeof(VS_FIXEDFILEINFO) <= size; at += 4) {
        const VS_FIXEDFILEINFO* info = (const VS_FIXEDFILEINFO*)(data + at);
        if (info->dwSignature == 0xFEEF04BD) {
            LaunchLog("jvm.dll %s loaded, file version %lu.%lu.%lu.%lu", path, info->dwFileVersionMS >> 16,
                      info->dwFileVersionMS & 0xFFFF, info->dwFileVersionLS >> 16, info->dwFileVersionLS & 0xFFFF);
            return;
        }
    }
    LaunchLog("jvm.dll %s loaded, without a version resource", path);
}

// Finds the runtime and loads its jvm.dll and entry points; JvmPath becomes the found path.
static bool LoadJavaRuntime()
{
    char found[260];
    if (!SearchJavaRuntime(found, sizeof(found)))
        return false;
    char* path = _strdup(found);
    if (path == NULL) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        ShowLastError();
        return false;
    }
    LauncherSettings.JvmPath = path;
    JvmLibrary = LoadJvmLibrary(path);
    if (JvmLibrary == NULL) {
        LaunchLog("jvm.dll %s could not be loaded: system error %lu", path, GetLastError());
        ShowError(LauncherSettings.MsgLoadJvm, path);
        return false;
    }
    LogJvmVersion(path);
    BindRuntimeOutput(JvmLibrary);
    CreateJavaVm = (CreateJavaVmEntry)(void*)GetProcAddress(JvmLibrary, "JNI_CreateJavaVM");
    DefaultInitArgsEntry = GetProcAddress(JvmLibrary, "JNI_GetDefaultJavaVMInitArgs");
    if (CreateJavaVm == NULL || DefaultInitArgsEntry == NULL) {
        ShowError(LauncherSettings.MsgJniInterfaces, path);
        return false;
    }
    return true;
}

// Reports a JVM that could not be created, with what the runtime said about it (the vfprintf hook
// collected it: "Unrecognized option: ...") as the details, which are then no longer held.
static void ReportCreationFailure()
{
    char* said = TakeJvmMessageText();
    if (said == NULL || said[0] == 0)
        ShowError(LauncherSettings.MsgCreateJvm, LauncherSettings.JvmPath);
    else
        ShowErrorWithDetails(said, LauncherSettings.MsgCreateJvm, LauncherSettings.JvmPath);
    free(said);
}

// The JVM options: the three hooks, then JvmOptionStrings. The runtime takes its options in order and
// uses a hook only from its place on, so the hooks come first: a refused option is then reported
// through the vfprintf hook. Never freed.
static JavaVMOption* MakeJvmOptions(int* count)
{
    // Typed as the JNI invocation interface declares the hooks: a hook of another calling
    // convention does not convert.
    jint(JNICALL * vfprintfHook)(FILE*, const char*, va_list) = JvmVfprintfHook;
    void(JNICALL * abortHook)(void) = JvmAbortHook;
    void(JNICALL * exitHook)(jint) = JvmExitHook;

    int n = JvmOptionCount;
    JavaVMOption* options = (JavaVMOption*)calloc((size_t)n + 3, sizeof(JavaVMOption));
    if (options == NULL)
        return NULL;
    options[0].optionString = (char*)"vfprintf";
    options[0].extraInfo = (void*)vfprintfHook;
    options[1].optionString = (char*)"abort";
    options[1].extraInfo = (void*)abortHook;
    options[2].optionString = (char*)"exit";
    options[2].extraInfo = (void*)exitHook;
    for (int i = 0; i < n; ++i)
        options[3 + i].optionString = JvmOptionStrings[i];
    *count = n + 3;
    return options;
}

// Logs the JVM's options in order (a secret's value hidden) and the class path, an entry a line.
static void LogJvmOptions(const JavaVMOption* options, int count)
{
    if (LaunchLogFile == NULL)
        return;
    for (int i = 0; i < count; i++) {
        const char* text = options[i].optionString;
        size_t shown = ShownOptionLength(text);
        LaunchLog("JVM option %d: %.*s%s%s", i, (int)shown, text, shown < strlen(text) ? "***" : "",
                  options[i].extraInfo != NULL ? " hook" : "");
    }
    GrowableString classPath = {};
    if (DescribeClassPath(&classPath))
        LaunchLogLines("", classPath.text);
    FreeGrowableString(&classPath);
}

// Gives the process a hidden console and points both streams at it.
static void UseHiddenConsole()
{
    AllocConsole();
    HWND console = GetConsoleWindow();
    if (console != NULL)
        ShowWindow(console, SW_HIDE);
    SetConsoleCtrlHandler(IgnoreLogoffCtrlHandler, TRUE);
    freopen("CONOUT$", "a", stdout);
    freopen("CONOUT$", "a", stderr);
    RedirectJavaStream(CreatingEnv, "CONOUT$", "setOut", false);
    RedirectJavaStream(CreatingEnv, "CONOUT$", "setErr", false);
}

// True when the loaded runtime takes JNI version 9, as those of Java 9 and later do (an older one
// answers JNI_GetDefaultJavaVMInitArgs with an error): they alone take the module system's options.
// Asked only when there are such options.
static bool RuntimeIsModular()
{
    if (LauncherSettings.ModuleOptions[0] == 0)
        return false;
    JavaVMInitArgs probe = {};
    probe.version = JNI_VERSION_9;
    return ((jint(JNICALL*)(void*))(void*)DefaultInitArgsEntry)(&probe) == JNI_OK;
}

bool StartJvm(bool hiddenConsole)
{
    if (LauncherSettings.EarlyWorkingDirectory && !SelectWorkingDirectory(true))
        return false;
    if (!LoadJavaRuntime() || !BuildClassPathOption(RuntimeIsModular()))
        return false;
    JavaVMInitArgs args = {};
    args.version = JNI_VERSION_1_2;
    int count = 0;
    args.options = MakeJvmOptions(&count);
    args.nOptions = count;
    args.ignoreUnrecognized = JNI_FALSE;
    if (args.options == NULL) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        ShowLastError();
        return false;
    }
    LogJvmOptions(args.options, count);
    LARGE_INTEGER frequency, before, after;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&before);
    jint created = CreateJavaVm(&JavaVm, (void**)&CreatingEnv, &args);
    QueryPerformanceCounter(&after);
    LaunchLog("JNI_CreateJavaVM returned %ld after %lu ms", (long)created,
              (unsigned long)((after.QuadPart - before.QuadPart) * 1000 / frequency.QuadPart));
    if (created != 0) {
        JavaVm = NULL;
        ReportCreationFailure();
        return false;
    }
    if (hiddenConsole)
        UseHiddenConsole();
    return true;
}

bool AttachLauncherThread(const char* name, JNIEnv** env, JavaVM** attached)
{
    // The pointer is read once, and the attach made, under the guard ReleaseJvm clears it under. No JVM
    // (not created yet, or its start failed, or released), or one being destroyed that refuses the attach
    // because its program has ended, is nothing to stop: not reported.
    AcquireSRWLockExclusive(&JvmGuard);
    JavaVM* vm = JavaVm;
    bool ending = JvmEnding;
    JavaVMAttachArgs attach = {JNI_VERSION_1_2, (char*)name, NULL};
    bool ok = vm != NULL && vm->AttachCurrentThread((void**)env, &attach) == 0;
    ReleaseSRWLockExclusive(&JvmGuard);
    if (!ok) {
        if (vm != NULL && !ending)
            ShowError(LauncherSettings.MsgAttachThread);
        return false;
    }
    *attached = vm;
    return true;
}

bool StopJvmWithExit()
{
    JNIEnv* env = NULL;
    JavaVM* vm = NULL;
    if (!AttachLauncherThread(STOPPER_THREAD_NAME, &env, &vm))
        return false;
    bool ok = false;
    jclass system = env->FindClass("java/lang/System");
    jmethodID exitMethod = NULL;
    if (CheckJavaException(env) || system == NULL) {
        ShowError(LauncherSettings.MsgLocateClass, "java/lang/System");
    } else if ((exitMethod = env->GetStaticMethodID(system, "exit", "(I)V")), CheckJavaException(env) ||
               exitMethod == NULL) {
        ShowError(LauncherSettings.MsgLocateMethod, "exit(int)");
    } else {
        // System.exit normally ends the process through the exit hook and never comes back.
        env->CallStaticVoidMethod(system, exitMethod, (jint)0);
        ok = !CheckJavaException(env);
        if (!ok)
            ShowError(LauncherSettings.MsgInvokeMethod, "exit(int)");
    }
    vm->DetachCurrentThread();
    return ok;
}

void ReleaseJvm()
{
    // DestroyJavaVM waits for the program's other threads, and a service stop must still reach the
    // JVM meanwhile; once it is destroyed, a stopper that comes later finds none.
    if (JavaVm != NULL) {
        JavaVm->DetachCurrentThread();
        AcquireSRWLockExclusive(&JvmGuard);
        JvmEnding = true;
        ReleaseSRWLockExclusive(&JvmGuard);
        JavaVm->DestroyJavaVM();
        AcquireSRWLockExclusive(&JvmGuard);
        JavaVm = NULL;
        ReleaseSRWLockExclusive(&JvmGuard);
    }
    // The program's streams have ended with it: a stream file gets what its pipe still holds.
    StopOutputCapture();
    // A service's stopper thread may still hold the old pointer: the runtime stays loaded until the
    // process ends, so that such a late call fails inside it instead of jumping into freed code.
    if (JvmLibrary != NULL && RunMode != RUN_MODE_SERVICE) {
        FreeLibrary(JvmLibrary);
        JvmLibrary = NULL;
    }
}
