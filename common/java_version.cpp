#include "java_version.h"

// Reads the decimal number at *cursor and moves past it; a number past 2^32 saturates.
static unsigned long long ReadNumber(const char** cursor)
{
    unsigned long long value = 0;
    for (; **cursor >= '0' && **cursor <= '9'; ++*cursor) {
        value = value * 10 + (unsigned)(**cursor - '0');
        if (value > 0xFFFFFFFFull)
            value = 0x100000000ull;
    }
    return value;
}

bool JavaVersionAcceptable(const char* name, unsigned minimumWord)
{
    if (name == nullptr || name[0] < '0' || name[0] > '9')
        return false;
    const char* cursor = name;
    unsigned long long first = ReadNumber(&cursor);
    unsigned long long second = 0;
    if (cursor[0] == '.' && cursor[1] >= '0' && cursor[1] <= '9') {
        ++cursor;
        second = ReadNumber(&cursor);
    }
    unsigned long long minimumFirst = minimumWord >> 16;
    unsigned long long minimumSecond = minimumWord & 0xF;
    if (first != minimumFirst)
        return first > minimumFirst;
    return second >= minimumSecond;
}
