// The runtime version rule: any name against any minimum, checked against a second,
// independent reading of the two numbers.
#include "fuzz_text.h"
#include "java_version.h"

// The number at *p as a saturated 64-bit value (anything past 2^32 compares as 2^32).
static unsigned long long Number(const char** p)
{
    unsigned long long value = 0;
    while (**p >= '0' && **p <= '9') {
        if (value < 0x100000000ull)
            value = value * 10 + (unsigned)(*(*p) - '0');
        if (value > 0x100000000ull)
            value = 0x100000000ull;
        ++*p;
    }
    return value;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 4)
        return 0;
    unsigned minimum = (unsigned)data[0] << 24 | (unsigned)data[1] << 16 | (unsigned)data[2] << 8 | data[3];
    char* name = FuzzText(data + 4, size - 4);
    if (name == NULL)
        return 0;
    bool got = JavaVersionAcceptable(name, minimum);
    bool expected = false;
    if (name[0] >= '0' && name[0] <= '9') {
        const char* p = name;
        unsigned long long first = Number(&p), second = 0;
        if (p[0] == '.' && p[1] >= '0' && p[1] <= '9') {
            ++p;
            second = Number(&p);
        }
        expected = first != (minimum >> 16) ? first > (minimum >> 16) : second >= (minimum & 0xF);
    }
    if (got != expected)
        abort();
    free(name);
    return 0;
}
