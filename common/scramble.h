// The main class is stored in the string table XOR-ed with a fixed key and written as upper-case
// hex, so that it does not stand in the executable as plain text. Portable: no Windows headers.
#pragma once

#include <stddef.h>

// Longest main class the scrambled form can carry, in bytes (the result buffer holds it and a NUL).
#define SCRAMBLE_MAX_PLAIN 255

// The 16 key characters and a zero byte; byte k is XOR-ed with ScrambleKey[k % 17].
extern const unsigned char ScrambleKey[17];

// Descrambles hex text into a static 256-byte buffer, valid until the next call: copy it at once.
// Both digit cases are read; decoding stops at a lone final digit, at a pair that is not two hex
// digits, and after 255 bytes, so the result is the part of the text that decodes.
const char* DescrambleText(const char* text);

// Scrambles plain text into out as upper-case hex with a NUL (2 * length + 1 bytes needed).
// False, with out emptied, when the text is longer than SCRAMBLE_MAX_PLAIN or out is too small.
bool ScrambleText(const char* plain, char* out, size_t outSize);
