// Finding a Java runtime: the jvm.dll of the first acceptable runtime, from the configured paths and
// the runtime keys under HKEY_LOCAL_MACHINE, in the order JreSearchOrder gives.
#pragma once

#include <windows.h>

#include <stddef.h>

/* jre.cpp */

// Home folder of the accepted runtime (%JAVA_HOME% of the option text); empty when none was recorded.
extern char FoundJavaHome[260];
// The development kit's VM below its home, set when search method 2, 3 or 4 begins; null before.
extern const char* JdkJvmSubPath;

// Searches for the jvm.dll of a runtime at least as new as JavaVersion. True with its path in result
// (size bytes, 260). Reports nothing.
bool FindJavaRuntime(char* result, size_t size);
// Reads a REG_SZ or REG_EXPAND_SZ value (unexpanded) into buffer: -1 when the key cannot be opened,
// 0 when read, 2 when the text does not fit in size bytes, 1 in every other case.
int RegistryReadString(HKEY root, const char* subkey, const char* valueName, char* buffer, DWORD size);
// True when the file can be opened for reading.
bool FileExists(const char* path);
