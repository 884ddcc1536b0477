// DescrambleText on any text, and the round trip of ScrambleText for texts it accepts.
#include "fuzz_text.h"
#include "scramble.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    char* text = FuzzText(data, size);
    if (text == NULL)
        return 0;
    const char* plain = DescrambleText(text);
    if (strlen(plain) > SCRAMBLE_MAX_PLAIN)
        abort();
    char hex[2 * SCRAMBLE_MAX_PLAIN + 1];
    bool fits = strlen(text) <= SCRAMBLE_MAX_PLAIN;
    if (ScrambleText(text, hex, sizeof(hex)) != fits)
        abort();
    // A text holding a byte equal to its key byte scrambles to a NUL and cannot come back whole.
    if (fits && strncmp(DescrambleText(hex), text, strlen(DescrambleText(hex))) != 0)
        abort();
    free(text);
    return 0;
}
