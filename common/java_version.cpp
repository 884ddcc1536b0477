#include "java_version.h"

#include <string.h>

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

static bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool ParseJavaVersion(const char* text, JavaVersionNumber* version)
{
    version->Count = 0;
    if (text == nullptr || !IsDigit(text[0]))
        return false;
    // Read with one slot more than kept: the old scheme's leading 1 is dropped afterwards.
    unsigned long long raw[JAVA_VERSION_MAX_PARTS + 1];
    int count = 0;
    const char* cursor = text;
    for (;;) {
        raw[count++] = ReadNumber(&cursor);
        if (count == JAVA_VERSION_MAX_PARTS + 1 || (cursor[0] != '.' && cursor[0] != '_') || !IsDigit(cursor[1]))
            break;
        // The update number after '_' is the fourth number of the old scheme: "1.8_302" is 1.8.0_302.
        if (cursor[0] == '_')
            while (count < 3)
                raw[count++] = 0;
        ++cursor;
    }
    int first = raw[0] == 1 && count > 1 ? 1 : 0;
    for (int i = first; i < count && version->Count < JAVA_VERSION_MAX_PARTS; ++i)
        version->Parts[version->Count++] = raw[i] > 0xFFFFFFFFull ? 0xFFFFFFFFu : (unsigned)raw[i];
    return true;
}

static unsigned PartOf(const JavaVersionNumber* version, int index)
{
    return index < version->Count ? version->Parts[index] : 0;
}

int CompareJavaVersions(const JavaVersionNumber* a, const JavaVersionNumber* b)
{
    for (int i = 0; i < JAVA_VERSION_MAX_PARTS; ++i) {
        unsigned left = PartOf(a, i), right = PartOf(b, i);
        if (left != right)
            return left < right ? -1 : 1;
    }
    return 0;
}

void JavaVersionFromWord(unsigned word, JavaVersionNumber* version)
{
    unsigned first = word >> 16, second = word & 0xF;
    version->Count = 0;
    if (first != 1)
        version->Parts[version->Count++] = first;
    version->Parts[version->Count++] = second;
}

static bool IsHexDigit(char c)
{
    return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool ReadJavaVersionSetting(const char* text, JavaVersionNumber* version)
{
    bool prefixed = text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const char* digits = prefixed ? text + 2 : text;
    size_t length = strspn(digits, "0123456789abcdefABCDEF");
    bool word = digits[length] == 0 && length > 0 && length <= 8 && (prefixed || length >= 5);
    if (!word)
        return !prefixed && ParseJavaVersion(text, version);
    unsigned value = 0;
    for (const char* cursor = digits; IsHexDigit(*cursor); ++cursor)
        value = value << 4 | (unsigned)(IsDigit(*cursor) ? *cursor - '0' : (*cursor | 0x20) - 'a' + 10);
    JavaVersionFromWord(value, version);
    return true;
}

bool JavaVersionAtLeast(const char* name, const JavaVersionNumber* minimum)
{
    JavaVersionNumber version;
    return ParseJavaVersion(name, &version) && CompareJavaVersions(&version, minimum) >= 0;
}

bool JavaVersionWithinMaximum(const JavaVersionNumber* version, const JavaVersionNumber* maximum)
{
    for (int i = 0; i < maximum->Count; ++i) {
        unsigned part = PartOf(version, i);
        if (part != maximum->Parts[i])
            return part < maximum->Parts[i];
    }
    return true;
}

bool FindReleaseVersion(const char* releaseText, char* out, size_t size)
{
    static const char key[] = "JAVA_VERSION=";
    for (const char* line = releaseText; *line != 0;) {
        if (strncmp(line, key, sizeof(key) - 1) == 0) {
            const char* value = line + sizeof(key) - 1;
            bool quoted = *value == '"';
            if (quoted)
                ++value;
            size_t length = strcspn(value, "\"\r\n");
            // A quoted value without its closing quote was cut: it is not used.
            if (length >= size || (quoted && value[length] != '"'))
                return false;
            memcpy(out, value, length);
            out[length] = 0;
            return true;
        }
        line += strcspn(line, "\n");
        if (*line == '\n')
            ++line;
    }
    return false;
}

const char* VersionInFolderName(const char* name)
{
    for (; *name != 0; ++name)
        if (IsDigit(*name))
            return name;
    return nullptr;
}
