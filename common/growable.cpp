#include "growable.h"

#include <stdlib.h>
#include <string.h>

// The growth step for an append of count characters: 4 x count when that is more than 1024, else 1024.
static size_t GrowthStep(size_t count)
{
    return 4 * count > 1024 ? 4 * count : 1024;
}

bool AppendTextPart(GrowableString* string, const char* text, size_t count)
{
    if (text == NULL || count == 0)
        return true;
    // Lengths stay far below 2^31, so no size arithmetic below can wrap.
    if (count >= 0x20000000u || string->length + count >= 0x20000000u)
        return false;
    if (string->text == NULL) {
        size_t capacity = GrowthStep(count);
        if (capacity < count + 1)
            capacity = count + 1;
        char* text = (char*)calloc(capacity, 1);
        if (text == NULL)
            return false;
        string->text = text;
        string->capacity = (unsigned)capacity;
    } else if (string->length + count > string->capacity - 1) {
        size_t capacity = string->capacity + GrowthStep(count);
        char* grown = (char*)realloc(string->text, capacity);
        if (grown == NULL)
            return false;
        string->text = grown;
        string->capacity = (unsigned)capacity;
    }
    memcpy(string->text + string->length, text, count);
    string->length += (unsigned)count;
    string->text[string->length] = 0;
    return true;
}

bool AppendText(GrowableString* string, const char* text)
{
    return text == NULL || AppendTextPart(string, text, strlen(text));
}

void FreeGrowableString(GrowableString* string)
{
    free(string->text);
    string->text = NULL;
    string->length = 0;
    string->capacity = 0;
}
