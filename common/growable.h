// GrowableString: a heap text that grows as texts are appended to it. Portable: no Windows headers.
#pragma once

#include <stddef.h>

// A heap text; create it zero-filled. Users read text directly (null until the first append).
struct GrowableString {
    char* text;        // the text, NUL-terminated; null until the first append
    unsigned length;   // characters held
    unsigned capacity; // bytes allocated
};

/* growable.cpp */

// Appends text (null or empty: nothing changes). False, leaving the string as it was, when memory
// runs out or the length would pass 2^29 characters.
bool AppendText(GrowableString* string, const char* text);
// Appends the first count characters of text (count 0: nothing changes); same failure rule.
bool AppendTextPart(GrowableString* string, const char* text, size_t count);
// Frees the text and zero-fills the string again.
void FreeGrowableString(GrowableString* string);
