// Helpers shared by the fuzz targets: the fuzzer's bytes as a NUL-terminated heap text.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

// A malloc'ed copy of data with a NUL after it (embedded NULs end the text early, as in C).
static inline char* FuzzText(const uint8_t* data, size_t size)
{
    char* text = (char*)malloc(size + 1);
    if (text != NULL) {
        memcpy(text, data, size);
        text[size] = 0;
    }
    return text;
}
