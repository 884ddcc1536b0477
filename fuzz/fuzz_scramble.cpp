// ScrambleText then DescrambleText gives every text of up to SCRAMBLE_MAX_PLAIN bytes back, byte for
// byte (a NUL inside when a byte equals its key byte). DescrambleText of any text reads only up to its
// NUL and decodes exactly its leading hex pairs (at most 255): scrambled again they give those back.
#include "fuzz.h"
#include "scramble.h"

#include <strings.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    char *text = FuzzText(data, size), hex[2 * SCRAMBLE_MAX_PLAIN + 1];
    size_t length = strlen(text), pairs = strspn(text, "0123456789ABCDEFabcdef") / 2;
    pairs = pairs < SCRAMBLE_MAX_PLAIN ? pairs : SCRAMBLE_MAX_PLAIN;
    bool fits = length <= SCRAMBLE_MAX_PLAIN;
    FAULT_IF(ScrambleText(text, hex, sizeof(hex)) != fits || (fits && strspn(hex, "0123456789ABCDEF") != 2 * length) ||
             (fits && memcmp(DescrambleText(hex), text, length + 1) != 0));
    const char* plain = DescrambleText(text);
    FAULT_IF(plain[pairs] != 0 || (strlen(plain) == pairs && (!ScrambleText(plain, hex, sizeof(hex)) ||
                                                              strncasecmp(hex, text, 2 * pairs) != 0)));
    free(text);
    return 0;
}
