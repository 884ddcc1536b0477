#include "format.h"

#include <stdio.h>
#include <string.h>

bool FormatTextV(char* buf, size_t size, const char* format, va_list args)
{
    if (size == 0)
        return false;
#ifdef _WIN32
    // The system runtime's _vsnprintf returns -1 when the text is cut and then leaves it unterminated.
    int n = _vsnprintf(buf, size, format, args);
#else
    int n = vsnprintf(buf, size, format, args);
#endif
    buf[size - 1] = 0;
    return n >= 0 && (size_t)n < size;
}

bool FormatText(char* buf, size_t size, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    bool ok = FormatTextV(buf, size, format, args);
    va_end(args);
    return ok;
}

bool CopyText(char* buf, size_t size, const char* text)
{
    if (size == 0)
        return false;
    size_t length = strlen(text);
    if (length < size) {
        memcpy(buf, text, length + 1);
        return true;
    }
    memcpy(buf, text, size - 1);
    buf[size - 1] = 0;
    return false;
}

void MarkTextCut(char* buf, size_t size)
{
    size_t length = strnlen(buf, size);
    if (size >= 4 && length >= 3)
        memcpy(buf + length - 3, "...", 4);
}
