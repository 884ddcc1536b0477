// Hosting the Java virtual machine: creating it, running the main class, shutting it down, the JVM's
// hooks, and the class path option.
#pragma once

#include "growable.h"

#include <windows.h>

#include <stdarg.h>
#include <stdio.h>

#include <jni.h>

/* jvm.cpp */

// The loaded jvm.dll; null until StartJvm loaded it, and again after ReleaseJvm.
extern HMODULE JvmLibrary;
// The one Java VM of the process; null until created.
extern JavaVM* JavaVm;
// The JNI environment of the thread that created the JVM (output capture redirects through it).
extern JNIEnv* CreatingEnv;

// Finds, loads and creates the JVM; with hiddenConsole the streams go to a hidden console.
// False after the failure has been reported.
bool StartJvm(bool hiddenConsole);
// Attaches the calling thread and calls System.exit(0). False after the failure has been reported.
bool StopJvmWithExit();
// The Java name of the thread that asks a service's program to stop.
#define STOPPER_THREAD_NAME "Kestrun stopper thread"
// Attaches the calling thread under the Java name to the JVM, which *vm then names (the thread
// detaches from it); false when there is no JVM, or after reporting when a running one refused it.
bool AttachLauncherThread(const char* name, JNIEnv** env, JavaVM** vm);
// Detaches the calling thread, destroys the JVM (waiting for the program's threads) and unloads it.
void ReleaseJvm();
// Applies the working-directory settings: the start directory (unless configuredOnly) or
// WorkingDirectory. False after the failure has been reported.
bool SelectWorkingDirectory(bool configuredOnly);
// Console control handler of a hidden-console start: swallows the log-off event only.
BOOL WINAPI IgnoreLogoffCtrlHandler(DWORD ctrlType);

/* jni_calls.cpp */

// True once main has ended with an exception (set by RunMainClass, read by the run's exit code).
extern bool MainThrew;
// Calls the main class's main with argc arguments (none: the configured ones). In attach mode the
// calling thread is attached first and detached at the end. False after the failure has been reported.
bool RunMainClass(int argc, WCHAR** argv, bool attachMode);
// RunMainClass with the arguments a setting holds (ANSI), split by the settings' rules.
bool RunMainWithSetting(const char* arguments, bool attachMode);
// Replaces System.out ("setOut") or System.err ("setErr") by a PrintStream on a new FileOutputStream
// for fileName (appended to, or emptied). False after the failure has been reported.
bool RedirectJavaStream(JNIEnv* env, const char* fileName, const char* setterName, bool append);
// Calls System.setProperty(key, value). False after the failure has been reported.
bool SetJavaSystemProperty(JNIEnv* env, const char* key, const WCHAR* value);
// True when a Java exception was pending; it has then been described and cleared.
bool CheckJavaException(JNIEnv* env);
// A Java string of a text in the ANSI code page; null (nothing reported) when it cannot be made.
jstring NewJavaString(JNIEnv* env, const char* text);
// A Java string of UTF-16 text, unit for unit (a lone surrogate included); null as NewJavaString.
jstring NewJavaString(JNIEnv* env, const WCHAR* text);

/* hooks.cpp */

// Bytes of the JVM text kept for failure reports: the last 65535 characters and the NUL.
#define JVM_TEXT_SIZE 65536

// Finds the C library that jvm.dll prints with (its printing function and standard streams), so that
// the vfprintf hook writes each text to the stream the JVM gave. False when it imports none known:
// the hook then only keeps the text.
bool BindRuntimeOutput(HMODULE jvm);
// The index of the C library a runtime prints with among the names of the DLLs it imports (ucrt,
// then msvcr120, msvcr100, msvcrt); -1 when none is one.
int ChooseRuntimeCLibrary(const char* const* names, int count);
// Hands over the JVM text kept since the last call (null when there is none) and starts anew.
char* TakeJvmMessageText();
// The "vfprintf" hook: writes the text to its stream through the runtime's C library and keeps the
// last JVM_TEXT_SIZE - 1 characters of what went to stdout and stderr (a longer call is kept cut).
jint JNICALL JvmVfprintfHook(FILE* stream, const char* format, va_list args);
// The "exit" hook: shows the kept text when status is not 0, lets go of what the process holds, ends
// with status.
void JNICALL JvmExitHook(jint status);
// The "abort" hook: shows the kept text, lets go as the exit hook does, then aborts.
void JNICALL JvmAbortHook(void);

/* classpath.cpp */

// The JVM's option strings: JvmOptions split, each with its %NAME% references expanded, then the
// class path option; null until BuildClassPathOption made them.
extern char** JvmOptionStrings;
// The number of JvmOptionStrings.
extern int JvmOptionCount;

// Makes JvmOptionStrings: the configured options (ModuleOptions behind JvmOptions when modular), then
// the class path option (ClassPath expanded, directories followed by their archives, then the
// extracted files). False after a reported failure.
bool BuildClassPathOption(bool modular);
// A new heap text with every %NAME% reference of text expanded (%JAVA_HOME%: FoundJavaHome); the
// caller owns it. Null when memory ran out.
char* ExpandVariables(const char* text);
// Appends the class path the JVM was given, an entry a line, with those that do not exist marked
// "(not found)"; false when memory ran out.
bool DescribeClassPath(GrowableString* text);
// 1 for an existing directory, 0 for an entry naming something else, -1 when missing.
int GetPathKind(const char* entry);
