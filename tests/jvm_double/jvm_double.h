// The test-double jvm.dll: a Java runtime in miniature that behaves toward a JNI host as HotSpot does
// for the classes and members a launcher uses, and whose "classes" are small scripts (see README.md).
// Objects are never collected: every jobject is a JavaObject that lives until the process ends.
#ifndef KESTRUN_JVM_DOUBLE_H
#define KESTRUN_JVM_DOUBLE_H

#include <windows.h>

#include <jni.h>

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "jvm_hooks.h"

struct ClassInfo;
struct Script;

// What a jobject points to.
enum class ObjKind { Class, String, Array, FileStream, PrintStream, Throwable };

struct JavaObject {
    JavaObject(ObjKind k, const std::string& cls) : kind(k), className(cls) {}
    ObjKind kind;
    std::string className;           // class of the object in slash form ("java/lang/String")
    ClassInfo* classInfo = nullptr;  // Class: the class this object stands for
    std::u16string text;             // String: its UTF-16 characters
    std::vector<JavaObject*> items;  // Array: its elements
    std::string itemClass;           // Array: class of its elements
    HANDLE file = INVALID_HANDLE_VALUE;  // FileStream: the open file, pipe or console
    std::string fileName;            // FileStream: the name it was opened with
    JavaObject* out = nullptr;       // PrintStream: the stream it writes to
    std::string message;             // Throwable: its message (UTF-8)
    bool hasMessage = false;         // Throwable: false for a null message
    JavaObject* cause = nullptr;     // Throwable: its cause or null
    std::vector<std::string> frames; // Throwable: stack frames, "Class.method(File.java)"
};

// One Java thread: the creating thread, an attached native thread or a thread a script started.
struct JavaThread {
    struct Env {
        JNIEnv_ env;          // must stay first: a JNIEnv* points here
        JavaThread* owner;
    } env;
    std::string name;         // Java thread name
    bool daemon = false;      // DestroyJavaVM does not wait for daemon threads
    DWORD osId = 0;           // the Windows thread that owns this Java thread
    JavaObject* pending = nullptr;  // pending exception, or null
    int javaDepth = 0;        // > 0 while Java code runs on this thread (it cannot detach then)
};

// A Java method: built in (System.exit, ...) or a script class's main.
struct MethodInfo;
typedef jvalue (*MethodFn)(JavaThread& t, MethodInfo& m, JavaObject* self, const std::vector<jvalue>& args);
struct MethodInfo {
    ClassInfo* owner;
    std::string name;
    std::string signature;
    bool isStatic;
    MethodFn fn;
};

struct ClassInfo {
    std::string name;                  // slash form
    JavaObject* mirror = nullptr;      // the jclass handed out for it
    bool throwable = false;            // an exception or error class
    std::vector<MethodInfo*> methods;
    Script* script = nullptr;          // script classes only
};

/* trace.cpp */
// Formats into a string of whatever length the text needs.
std::string FormatText(const char* format, va_list args);
// Appends one line (thread name, then the formatted text) to the file named by KESTRUN_JVM_TRACE.
void TraceLine(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Prints the double's own failure (unmodelled function, bad script) on stderr and the trace, and ends
// the process at once with status 3, as abort() does.
[[noreturn]] void DoubleFailure(const char* format, ...) __attribute__((format(printf, 1, 2)));

/* text.cpp */
// True when the bytes are valid modified UTF-8 (no 4-byte forms, no raw NUL, complete sequences).
bool IsModifiedUtf8(const char* bytes);
// Decodes modified UTF-8 that IsModifiedUtf8 accepted.
std::u16string DecodeModifiedUtf8(const char* bytes);
// Decodes standard UTF-8 (script text); invalid bytes become U+FFFD.
std::u16string DecodeUtf8(const std::string& bytes);
// Encodes UTF-16 as UTF-8; an unpaired surrogate becomes '?', as Java's encoder writes it.
std::string EncodeUtf8(const std::u16string& text);

/* objects.cpp */
JavaObject* NewJavaString(const std::u16string& text);
JavaObject* NewJavaArray(const std::string& itemClass, size_t length);
JavaObject* NewThrowable(const std::string& className, const std::string* message);
// Makes a new exception pending on the thread; className in slash form, message may be null.
void ThrowJava(JavaThread& t, const char* className, const std::string* message);
// The pending exception's "java.lang.X: message" text.
std::string ThrowableText(JavaObject* e);
// Prints a throwable and its causes as printStackTrace does, on the current System.err.
void PrintStackTrace(JavaObject* e);
// True when obj is an instance of the class named (only identity and Object/Throwable are modelled).
bool IsInstanceOf(JavaObject* obj, const std::string& className);

/* streams.cpp */
// Serialises writers of Java streams (a PrintStream is synchronized); never held while waiting for the VM.
extern std::recursive_mutex StreamLock;
// The current System.out and System.err (PrintStream objects); written by setOut/setErr.
extern JavaObject* SystemOut;
extern JavaObject* SystemErr;
// Creates System.out and System.err on the process's standard handles.
void InitSystemStreams();
// Opens a FileOutputStream; on failure leaves java.io.FileNotFoundException pending and returns null.
JavaObject* OpenFileStream(JavaThread& t, const std::string& name, bool append);
// Makes a PrintStream on an output stream.
JavaObject* MakePrintStream(JavaObject* out);
// Writes UTF-8 text through a PrintStream, straight to its file (a PrintStream over a FileOutputStream
// has no buffer of its own); newline adds the Windows line separator.
void PrintText(JavaObject* printStream, const std::string& text, bool newline);

/* classes.cpp */
// Finds a class (built in or scripted); on failure leaves java.lang.NoClassDefFoundError pending.
ClassInfo* FindJavaClass(JavaThread& t, const std::string& name);
// Finds a method; on failure leaves java.lang.NoSuchMethodError pending.
MethodInfo* FindJavaMethod(JavaThread& t, ClassInfo* c, const char* name, const char* sig, bool isStatic);
// Calls a method with the thread marked as running Java code.
jvalue InvokeJava(JavaThread& t, MethodInfo& m, JavaObject* self, const std::vector<jvalue>& args);
// Reads a property; null when unset.
const std::string* GetJavaProperty(const std::string& key);
void SetJavaProperty(const std::string& key, const std::string& value);

/* classpath.cpp */
// The class path entries, made absolute when the VM was created (as the class loader does).
extern std::vector<std::string> ClassPathEntries;
// Sets the class path from java.class.path's value (';'-separated; "." when there is none).
void SetClassPath(const std::string& value);
// Finds the script text for a class (slash form); false when no entry holds it.
bool FindClassScript(const std::string& name, std::string& text, std::string& origin);

/* script.cpp */
// Parses a class's script; a malformed script is a DoubleFailure naming origin and line.
Script* ParseScript(const std::string& className, const std::string& text, const std::string& origin);
// Runs main(String[]) of a script class on the current Java thread.
void RunScriptMain(JavaThread& t, ClassInfo& c, const std::vector<std::u16string>& args);

/* threads.cpp */
// The VM lock: guards classes, properties, threads, streams and the VM's state.
extern std::recursive_mutex VmLock;
// The calling thread's Java thread, or null when it is not attached.
JavaThread* CurrentJavaThread();
// Makes the calling thread a Java thread (named name, or "Thread-N" when name is null).
JavaThread* AttachJavaThread(const char* name, bool daemon);
// Ends the calling thread's Java thread.
void DetachJavaThread(JavaThread* t);
// Starts a Java thread that runs body and then prints any uncaught exception, as Thread does.
void StartJavaThread(const std::string& name, bool daemon, void (*body)(JavaThread&, void*), void* context);
// Blocks until the calling Java thread is the last non-daemon one.
void WaitForNonDaemonThreads(JavaThread* self);
// System.exit: runs the exit hook on a VM thread of its own (or ends the process); never returns.
[[noreturn]] void ExitJava(jint status);
// A fatal VM error: prints "FATAL ERROR in native method: text", calls the abort hook, aborts.
[[noreturn]] void FatalJava(const char* text);

/* vm.cpp */
// The hooks the host gave, or null.
extern JvmVfprintfHookFn VfprintfHook;
extern JvmExitHookFn ExitHook;
extern JvmAbortHookFn AbortHook;
// The one JavaVM of the process.
extern JavaVM TheJavaVm;
// Prints VM text through the vfprintf hook, or on stderr when there is none (HotSpot's tty).
void VmPrint(const char* format, ...) __attribute__((format(printf, 1, 2)));
// True for the JNI versions HotSpot 17 accepts for creation and attaching.
bool IsSupportedJniVersion(jint version);

/* window.cpp */
// Shows a visible top-level window on a Java thread of its own (the event thread), pumping its messages
// until it is closed or the time has passed.
void ShowWindowOnThread(const std::string& title, long milliseconds);

/* env.cpp, env_data.cpp */
// The complete JNI function table (modelled functions over the unmodelled stubs).
const JNINativeInterface_* NativeTable();
// Fill the class, method and call functions of the table (env.cpp; env_data.cpp fills the rest).
void FillClassFunctions(JNINativeInterface_& table);
void FillCallFunctions(JNINativeInterface_& table);
// Checks a JNIEnv: it must belong to the calling thread (as -Xcheck:jni checks); returns its thread.
JavaThread& CheckEnv(JNIEnv* env, const char* function);

/* unmodelled.cpp */
// Fill every member of a table with a stub that names itself and aborts (reserved slots stay null).
void FillUnmodelledNative(JNINativeInterface_& table);
void FillUnmodelledInvoke(JNIInvokeInterface_& table);
// Abort when a member of a table is still null after filling (reserved slots excepted).
void CheckTableComplete(const void* table, size_t size, size_t reserved, const char* tableName);

#endif
