#include "growable_string.h"

#include <limits.h>
#include <stdlib.h>
#include <string.h>

bool AppendGrowableString(GrowableString* string, const char* text)
{
    if (text == nullptr || text[0] == 0)
        return true;
    size_t length = strlen(text);
    // Keeps Length + length, and the growth of 4 x length, far from int overflow.
    if (length > INT_MAX / 8 || (size_t)string->Length > INT_MAX / 8 - length)
        return false;
    int grow = 4 * (int)length > 1024 ? 4 * (int)length : 1024;
    if (string->Text == nullptr) {
        char* first = (char*)calloc((size_t)grow, 1);
        if (first == nullptr)
            return false;
        string->Text = first;
        string->Capacity = grow;
    } else if (string->Length + (int)length > string->Capacity - 1) {
        char* larger = (char*)realloc(string->Text, (size_t)string->Capacity + (size_t)grow);
        if (larger == nullptr)
            return false;
        string->Text = larger;
        string->Capacity += grow;
    }
    memcpy(string->Text + string->Length, text, length + 1);
    string->Length += (int)length;
    return true;
}

void FreeGrowableString(GrowableString* string)
{
    free(string->Text);
    string->Text = nullptr;
    string->Length = 0;
    string->Capacity = 0;
}
