#include "message_format.h"

#include <string.h>

int CountMessageArguments(const char* text)
{
    int count = 0;
    for (const char* p = text; *p; p++) {
        if (*p != '%')
            continue;
        p++;
        if (*p == 's')
            count++;
        else if (*p != '%')
            return -1;
    }
    return count;
}

bool IsSafeMessageFormat(const char* text, int arguments)
{
    int count = CountMessageArguments(text);
    return count >= 0 && count <= arguments;
}

bool EscapeMessageFormat(const char* text, char* out, size_t outSize)
{
    if (outSize == 0)
        return false;
    out[0] = 0;
    if (outSize < 2 * strlen(text) + 1)
        return false;
    char* q = out;
    for (const char* p = text; *p; p++) {
        *q++ = *p;
        if (*p == '%')
            *q++ = '%';
    }
    *q = 0;
    return true;
}
