#include "scramble.h"

#include <string.h>

const unsigned char ScrambleKey[17] = {'V', 'k', '4', 'R', 'b', '8', 'Z', 'q', '1',
                                       'W', 'm', '7', 'T', 'c', '3', 'Y', 0};

// Value of one hex digit of either case, or -1.
static int HexDigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

const char* DescrambleText(const char* text)
{
    static char result[SCRAMBLE_MAX_PLAIN + 1];
    memset(result, 0, sizeof(result));
    if (text == nullptr)
        return result;
    for (size_t k = 0; k < SCRAMBLE_MAX_PLAIN; k++) {
        if (text[2 * k] == 0 || text[2 * k + 1] == 0)
            break;
        int high = HexDigitValue(text[2 * k]);
        int low = HexDigitValue(text[2 * k + 1]);
        if (high < 0 || low < 0)
            break;
        result[k] = (char)((high * 16 + low) ^ ScrambleKey[k % sizeof(ScrambleKey)]);
    }
    return result;
}

bool ScrambleText(const char* plain, char* out, size_t outSize)
{
    static const char digits[] = "0123456789ABCDEF";
    size_t length = strlen(plain);
    if (outSize == 0)
        return false;
    out[0] = 0;
    if (length > SCRAMBLE_MAX_PLAIN || outSize < 2 * length + 1)
        return false;
    for (size_t k = 0; k < length; k++) {
        unsigned char byte = (unsigned char)plain[k] ^ ScrambleKey[k % sizeof(ScrambleKey)];
        out[2 * k] = digits[byte >> 4];
        out[2 * k + 1] = digits[byte & 15];
    }
    out[2 * length] = 0;
    return true;
}
