// Bounded text composition: every fixed buffer of the launcher is written through these.
// Portable: no Windows headers.
#pragma once

#include <stdarg.h>
#include <stddef.h>

// Formats into buf (size bytes, size > 0). Always NUL-terminated. False when the text did not fit:
// buf then holds as much of it as fits, so a report can still show it; a path must not be used then.
bool FormatText(char* buf, size_t size, const char* format, ...) __attribute__((format(printf, 3, 4)));
// FormatText with a va_list.
bool FormatTextV(char* buf, size_t size, const char* format, va_list args);
// Copies text into buf (size bytes, size > 0). False, with as much as fits, when it did not fit.
bool CopyText(char* buf, size_t size, const char* text);
// Marks a cut text by ending it with "..." (when buf has room for at least four bytes).
void MarkTextCut(char* buf, size_t size);
