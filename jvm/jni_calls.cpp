#include "jvm.h"

#include "arguments.h"
#include "capture.h"
#include "launch_log.h"
#include "handover.h"
#include "machine_text.h"
#include "report.h"
#include "settings.h"

#include <stdlib.h>
#include <string.h>

bool MainThrew = false;

bool CheckJavaException(JNIEnv* env)
{
    if (!env->ExceptionCheck())
        return false;
    env->ExceptionDescribe();
    env->ExceptionClear();
    return true;
}

// Launcher text is in the ANSI code page: it reaches Java as UTF-16, never as raw bytes (which
// would be wrong, or invalid modified UTF-8, for every character outside ASCII).
jstring NewJavaString(JNIEnv* env, const char* text)
{
    int length = (int)strlen(text);
    int wideLength = length == 0 ? 0 : MultiByteToWideChar(CP_ACP, 0, text, length, NULL, 0);
    if (length != 0 && wideLength <= 0)
        return NULL;
    WCHAR* wide = (WCHAR*)malloc(((size_t)wideLength + 1) * sizeof(WCHAR));
    if (wide == NULL)
        return NULL;
    if (wideLength > 0)
        MultiByteToWideChar(CP_ACP, 0, text, length, wide, wideLength);
    jstring string = env->NewString((const jchar*)wide, wideLength);
    free(wide);
    return string;
}

jstring NewJavaString(JNIEnv* env, const WCHAR* text)
{
    return env->NewString((const jchar*)text, (jsize)wcslen(text));
}

// True when the step failed: an exception was pending (described and cleared) or result is null.
static bool StepFailed(JNIEnv* env, const void* result)
{
    return CheckJavaException(env) || result == NULL;
}

bool SetJavaSystemProperty(JNIEnv* env, const char* key, const WCHAR* value)
{
    jstring javaKey = NewJavaString(env, key);
    if (StepFailed(env, javaKey)) {
        ShowError(LauncherSettings.MsgInstantiate, "java/lang/String");
        return false;
    }
    jstring javaValue = NewJavaString(env, value);
    if (StepFailed(env, javaValue)) {
        ShowError(LauncherSettings.MsgInstantiate, "java/lang/String");
        return false;
    }
    jclass system = env->FindClass("java/lang/System");
    if (StepFailed(env, system)) {
        ShowError(LauncherSettings.MsgLocateClass, "java/lang/System");
        return false;
    }
    jmethodID setProperty =
        env->GetStaticMethodID(system, "setProperty", "(Ljava/lang/String;Ljava/lang/String;)Ljava/lang/String;");
    if (StepFailed(env, setProperty)) {
        ShowError(LauncherSettings.MsgLocateMethod, "setProperty");
        return false;
    }
    env->CallStaticObjectMethod(system, setProperty, javaKey, javaValue);
    if (CheckJavaException(env)) {
        ShowError(LauncherSettings.MsgInvokeMethod, "setProperty");
        return false;
    }
    return true;
}

// A new PrintStream on a new FileOutputStream for fileName (appending, or emptying it); null after a report.
static jobject NewPrintStream(JNIEnv* env, const char* fileName, bool append)
{
    WCHAR* wideName = ExpandExeDirectory(WidenText(fileName));
    jstring name = wideName != NULL ? NewJavaString(env, wideName) : NULL;
    free(wideName);
    if (StepFailed(env, name))
        return ShowError(LauncherSettings.MsgInstantiate, "java/lang/String"), nullptr;
    jclass fileClass = env->FindClass("java/io/FileOutputStream");
    if (StepFailed(env, fileClass))
        return ShowError(LauncherSettings.MsgLocateClass, "java/io/FileOutputStream"), nullptr;
    jmethodID fileInit = env->GetMethodID(fileClass, "<init>", "(Ljava/lang/String;Z)V");
    if (StepFailed(env, fileInit))
        return ShowError(LauncherSettings.MsgLocateMethod, "java/io/FileOutputStream(String, boolean)"), nullptr;
    jobject file = env->NewObject(fileClass, fileInit, name, append ? JNI_TRUE : JNI_FALSE);
    if (StepFailed(env, file))
        return ShowError(LauncherSettings.MsgInstantiate, "java/io/FileOutputStream"), nullptr;
    jclass printClass = env->FindClass("java/io/PrintStream");
    if (StepFailed(env, printClass))
        return ShowError(LauncherSettings.MsgLocateClass, "java/io/PrintStream"), nullptr;
    jmethodID printInit = env->GetMethodID(printClass, "<init>", "(Ljava/io/OutputStream;)V");
    if (StepFailed(env, printInit))
        return ShowError(LauncherSettings.MsgLocateMethod, "java/io/PrintStream(java/io/OutputStream)"), nullptr;
    jobject print = env->NewObject(printClass, printInit, file);
    if (StepFailed(env, print))
        return ShowError(LauncherSettings.MsgInstantiate, "java/io/PrintStream"), nullptr;
    return print;
}

bool RedirectJavaStream(JNIEnv* env, const char* fileName, const char* setterName, bool append)
{
    jobject print = NewPrintStream(env, fileName, append);
    if (print == NULL)
        return false;
    jclass system = env->FindClass("java/lang/System");
    if (StepFailed(env, system)) {
        ShowError(LauncherSettings.MsgLocateClass, "java/lang/System");
        return false;
    }
    jmethodID setter = env->GetStaticMethodID(system, setterName, "(Ljava/io/PrintStream;)V");
    if (StepFailed(env, setter)) {
        ShowError(LauncherSettings.MsgLocateMethod, setterName);
        return false;
    }
    env->CallStaticVoidMethod(system, setter, print);
    if (CheckJavaException(env)) {
        ShowError(LauncherSettings.MsgInvokeMethod, setterName);
        return false;
    }
    return true;
}

// Sets user.dir to the current directory.
static bool PublishWorkingDirectory(JNIEnv* env)
{
    WCHAR directory[MAX_PATH + 1];
    DWORD length = GetCurrentDirectoryW(MAX_PATH + 1, directory);
    if (length == 0 || length > MAX_PATH) {
        // A directory longer than the buffer is reported as too long, never published cut.
        if (length != 0)
            SetLastError(ERROR_FILENAME_EXCED_RANGE);
        ShowErrorWithReason(LauncherSettings.MsgFileAccess, "CURRENT_DIR");
        return false;
    }
    return SetJavaSystemProperty(env, "user.dir", directory);
}

// The String[] of main's arguments; null after a report.
static jobjectArray MakeArgumentArray(JNIEnv* env, int argc, WCHAR** argv)
{
    jclass stringClass = env->FindClass("java/lang/String");
    jobjectArray array = env->NewObjectArray(argc, stringClass, NULL);
    if (StepFailed(env, array))
        return ShowError(LauncherSettings.MsgInstantiate, "java/lang/String[]"), nullptr;
    for (int i = 0; i < argc; ++i) {
        jstring argument = NewJavaString(env, argv[i]);
        if (StepFailed(env, argument))
            return ShowError(LauncherSettings.MsgInstantiate, "java/lang/String"), nullptr;
        env->SetObjectArrayElement(array, i, argument);
        if (CheckJavaException(env)) {
            char described[1024];
            DescribeWideText(argv[i], described, sizeof(described));
            return ShowError(LauncherSettings.MsgAssignArgument, described), nullptr;
        }
    }
    return array;
}

// The arguments a setting holds (ANSI text), widened, split by the settings' rules into new heap
// copies and each reference to the launcher's folder expanded; false after reporting that memory ran out.
static bool SplitSetting(const char* text, int* argc, WCHAR*** argv)
{
    *argc = 0;
    *argv = NULL;
    WCHAR* wide = WidenText(text);
    if (wide == NULL) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        ShowLastError();
        return false;
    }
    SplitArguments(wide, argc, argv, false);
    free(wide);
    bool expanded = true;
    for (int i = 0; i < *argc; i++)
        expanded = ((*argv)[i] = ExpandExeDirectory((*argv)[i])) != NULL && expanded;
    if (!expanded) {
        for (int i = 0; i < *argc; i++)
            free((*argv)[i]);
        free(*argv);
        *argc = 0;
        *argv = NULL;
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        ShowLastError();
    }
    return expanded;
}

static void FreeArguments(int argc, WCHAR** argv)
{
    for (int i = 0; i < argc; i++)
        free(argv[i]);
    free(argv);
}

// Logs the directory main runs in and the number of its arguments (their text is not logged).
static void LogMainCall(int argc)
{
    WCHAR directory[MAX_PATH];
    DWORD length = LaunchLogFile != NULL ? GetCurrentDirectoryW(MAX_PATH, directory) : 0;
    char* utf8 = length > 0 && length < MAX_PATH ? MakeUtf8Text(directory) : NULL;
    if (utf8 != NULL)
        LaunchLog("working directory %s", utf8);
    free(utf8);
    LaunchLog("main(String[]) of %s called with %d argument(s)", LauncherSettings.MainClass, argc);
}

// Finds the main class and calls its main with the arguments (none: AppOptions).
static bool CallMain(JNIEnv* env, int argc, WCHAR** argv)
{
    jclass mainClass = env->FindClass(LauncherSettings.MainClass);
    if (StepFailed(env, mainClass)) {
        ShowMainClassNotFound();
        return false;
    }
    jmethodID main = env->GetStaticMethodID(mainClass, "main", "([Ljava/lang/String;)V");
    if (StepFailed(env, main)) {
        ShowErrorWithCapturedOutput(LauncherSettings.MsgLocateMethod, "main(java/lang/String[])");
        return false;
    }
    int configuredCount = 0;
    WCHAR** configured = NULL;
    if (argc == 0 && !SplitSetting(LauncherSettings.AppOptions, &configuredCount, &configured))
        return false;
    jobjectArray arguments = argc == 0 ? MakeArgumentArray(env, configuredCount, configured)
                                       : MakeArgumentArray(env, argc, argv);
    FreeArguments(configuredCount, configured);
    if (arguments == NULL)
        return false;
    LogMainCall(argc == 0 ? configuredCount : argc);
    // From now on the program may be handed a second start's arguments.
    ReleaseForwardedCalls();
    env->CallStaticVoidMethod(mainClass, main, arguments);
    bool threw = CheckJavaException(env);
    LaunchLog("main(String[]) %s", threw ? "ended with an exception" : "returned");
    if (threw) {
        MainThrew = true;
        ShowErrorWithCapturedOutput(LauncherSettings.MsgInvokeMethod, "main(java/lang/String[])");
        return false;
    }
    return true;
}

bool RunMainWithSetting(const char* arguments, bool attachMode)
{
    int argc;
    WCHAR** argv;
    if (!SplitSetting(arguments, &argc, &argv))
        return false;
    bool ok = RunMainClass(argc, argv, attachMode);
    FreeArguments(argc, argv);
    return ok;
}

bool RunMainClass(int argc, WCHAR** argv, bool attachMode)
{
    if (!attachMode && !LauncherSettings.EarlyWorkingDirectory && !SelectWorkingDirectory(false))
        return false;
    JNIEnv* env = CreatingEnv;
    JavaVM* vm = NULL;
    if (attachMode && !AttachLauncherThread(STOPPER_THREAD_NAME, &env, &vm))
        return false;
    // An attach-mode run is a second main call into the running program: its streams stay where the
    // first run put them (a log is never emptied, no second capture pipe is opened).
    bool ok = PublishWorkingDirectory(env) && (attachMode || RouteJavaStreams(env)) && CallMain(env, argc, argv);
    if (attachMode)
        vm->DetachCurrentThread();
    return ok;
}
