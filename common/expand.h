// Expansion of %NAME% references in the JVM option text. Portable: no Windows headers.
#pragma once

#include "growable.h"

// Looks up a variable by name; null when it is not defined.
typedef const char* (*VariableLookup)(const char* name);

/* expand.cpp */

// A new heap text (the caller frees it) with every %NAME% replaced: "JAVA_HOME" (exactly) by javaHome,
// any other name through lookup with AppendEnvironmentValue. Percent signs are dropped; an unclosed
// reference keeps its text. Null when memory runs out.
char* ExpandVariablesWith(const char* text, const char* javaHome, VariableLookup lookup);
// Appends value without one leading and one trailing double quote; a null value appends nothing.
// Values of any length are appended whole. False when memory ran out.
bool AppendEnvironmentValue(GrowableString* string, const char* value);
