// The conformance runner's platform layer: the JVM library, and the C library that owns the streams the
// VM hands to the vfprintf hook.
#ifndef KESTRUN_CONFORMANCE_PLATFORM_H
#define KESTRUN_CONFORMANCE_PLATFORM_H

#include <cstdio>

void* LoadVmEntry(const char* library, const char* name);  // an export of the JVM library, or null
const char* StreamName(FILE* stream);              // "stdout", "stderr" or "file" in the VM's C library
void ForwardText(FILE* stream, const char* text);  // writes and flushes with the VM's C library

#endif
