// The input as a malloc'ed text with a NUL right after it: AddressSanitizer sees any read past it.
#pragma once

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

static inline char* FuzzText(const uint8_t* data, size_t size)
{
    char* text = (char*)malloc(size + 1);
    text[size] = 0;
    return (char*)memcpy(text, data, size);
}
