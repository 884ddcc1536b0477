// What every fuzz target shares: the input as a C text, and the check that ends the run on a fault.
#pragma once

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

// A fault: names the failed condition and aborts, so that libFuzzer keeps the input that found it.
#define FAULT_IF(condition) \
    ((condition) ? (fprintf(stderr, "%s:%d: fault: %s\n", __FILE__, __LINE__, #condition), abort()) : (void)0)

// The input as a malloc'ed text with a NUL right after it: AddressSanitizer sees any read past it.
static inline char* FuzzText(const uint8_t* data, size_t size)
{
    char* text = (char*)malloc(size + 1);
    text[size] = 0;
    return (char*)memcpy(text, data, size);
}
