// The test-double jvm.dll: toward a JNI host it behaves as HotSpot does for what the launcher uses; its
// "classes" are small scripts (see README.md). Objects live until the process ends.
#ifndef KESTRUN_JVM_DOUBLE_H
#define KESTRUN_JVM_DOUBLE_H

#include <windows.h>

#include <jni.h>

#include "utf8.h"  // Wide and Utf8, for Java text and the file system's W calls

#include <cstdio>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

struct ClassInfo;
struct Script;

// A class mirror, a String, an object array, a FileOutputStream, a PrintStream or a throwable.
struct JavaObject {
    explicit JavaObject(const std::string& cls, const std::wstring& s = L"", HANDLE h = INVALID_HANDLE_VALUE)
        : className(cls), text(s), file(h) {}
    std::string className;               // slash form; an array's is its element class
    ClassInfo* classInfo = nullptr;      // class mirror
    std::wstring text;                   // String (UTF-16, as wchar_t is on Windows)
    std::vector<JavaObject*> items;      // array
    HANDLE file = INVALID_HANDLE_VALUE;  // FileOutputStream, PrintStream
    std::string message;                 // throwable (UTF-8); empty: none
    JavaObject* cause = nullptr;         // throwable
    std::vector<std::string> frames;     // throwable: "Class.method(File.java)"
};

struct JavaThread {
    struct Env {
        JNIEnv_ env;  // must stay first: a JNIEnv* points here
        JavaThread* owner;
    } env;
    std::string name;
    DWORD osId = 0;                 // the Windows thread that owns it
    JavaObject* pending = nullptr;  // pending exception
};

struct MethodInfo {
    std::string name, signature;
    bool isStatic;
    JavaObject* (*fn)(JavaThread& t, MethodInfo& m, va_list args);  // reads its parameters from args
    ClassInfo* owner = nullptr;  // set by Define
};

struct ClassInfo {
    std::string name;  // slash form
    JavaObject mirror;
    std::vector<MethodInfo> methods;
    Script* script;  // script classes only
};

inline std::string Replace(std::string text, char from, char to) {
    for (char& c : text)
        if (c == from) c = to;
    return text;
}

/* vm.cpp */
extern std::recursive_mutex VmLock;  // guards classes, properties, threads and the VM's state
extern std::map<std::string, std::string> Properties;  // system properties (UTF-8)
extern std::vector<std::string> ClassPath;             // absolute entries, set at creation
void TraceLine(const std::string& text);
[[noreturn]] void DoubleFailure(const std::string& text);  // ends the process with status 3
void VmPrint(FILE* stream, const char* format, ...) __attribute__((format(printf, 2, 3)));
void CollectGarbage();  // System.gc(), logged as -Xlog:gc asks
void StartJavaThread(const std::string& name, std::function<void(JavaThread&)> body);
[[noreturn]] void ExitJava(jint status);
[[noreturn]] void FatalJava(const std::string& text);

/* env.cpp */
const JNINativeInterface_* FillTables(JNIInvokeInterface_& invoke);  // invoke: stubs only

/* library.cpp */
extern JavaObject* SystemOut;
extern JavaObject* SystemErr;
void InitLibrary();
void PrintText(JavaObject* printStream, const std::string& text, bool newline);
void ThrowJava(JavaThread& t, const std::string& className, const std::string& message);
void PrintStackTrace(JavaObject* e, std::string prefix);
ClassInfo* FindJavaClass(JavaThread& t, const std::string& name);

/* script.cpp */
Script* ParseScript(const std::string& text, const std::string& origin);
JavaObject* ScriptMain(JavaThread& t, MethodInfo& m, va_list args);  // main(String[]) of a script class
JavaObject* ScriptStatic(JavaThread& t, MethodInfo& m, va_list args);  // a "static NAME" method: traced
const std::vector<std::string>& StaticMethods(const Script* s);       // the script's "static NAME" names

#endif
