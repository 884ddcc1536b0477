// A heap text that grows as texts are appended to it. Portable: no Windows headers.
#pragma once

// Create zero-filled ({}): Text stays null until the first append that adds something.
struct GrowableString {
    char* Text;   // NUL-terminated heap text, or null
    int Length;   // characters held
    int Capacity; // bytes allocated
};

// Appends text (null or empty: nothing changes). Grows by 4 x its length, at least by 1024 bytes.
// False, with the string unchanged, when memory runs out or the length would pass INT_MAX / 8.
bool AppendGrowableString(GrowableString* string, const char* text);
// Frees the text and makes the string empty again.
void FreeGrowableString(GrowableString* string);
