// The three hook types that a host passes to JNI_CreateJavaVM as the extraInfo of the options
// "vfprintf", "exit" and "abort". HotSpot calls them with the JNI calling convention, so a host hook
// declared without JNICALL fails to convert to these types on x86.
#ifndef KESTRUN_JVM_HOOKS_H
#define KESTRUN_JVM_HOOKS_H

#include <cstdarg>
#include <cstdio>

#include <jni.h>

typedef jint(JNICALL* JvmVfprintfHookFn)(FILE* stream, const char* format, va_list args);
typedef void(JNICALL* JvmExitHookFn)(jint status);
typedef void(JNICALL* JvmAbortHookFn)(void);

#endif
