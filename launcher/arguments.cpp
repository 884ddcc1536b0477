#include "arguments.h"

#include <stdlib.h>
#include <string.h>

// The splitting rules are written once, for both widths of text: the settings in the ANSI code page
// and the UTF-16 command line. Only the blank, the tab, the backslash and the double quote matter,
// which are the same single unit in both, so every other unit (a surrogate, paired or not, and
// U+0120 or U+4E22, whose low byte is a blank or a quote, included) is copied as it is.

// True for a unit that separates tokens: the blank, and under the command line's rules the tab.
template <typename Char> static bool IsSeparator(Char c, bool commandLine)
{
    return c == ' ' || (commandLine && c == '\t');
}

// Reads the token at p under the settings' rules: a double quote only protects blanks, and a token
// that begins with one loses its first and its last unit. Writes the token to out unless out is null,
// stores its length, and returns where the token ends.
template <typename Char> static const Char* ReadSettingToken(const Char* p, Char* out, size_t* length)
{
    const Char* start = p;
    bool inQuotes = false;
    for (; *p != 0 && (inQuotes || *p != ' '); p++)
        if (*p == '"')
            inQuotes = !inQuotes;
    size_t n = (size_t)(p - start);
    if (*start == '"') {
        start++;
        n = n >= 2 ? n - 2 : 0;
    }
    if (out != nullptr)
        memcpy(out, start, n * sizeof(Char));
    *length = n;
    return p;
}

// Stores c at out[*n] unless out is null (a counting pass), and counts it.
template <typename Char> static void PutUnit(Char* out, size_t* n, Char c)
{
    if (out != nullptr)
        out[*n] = c;
    (*n)++;
}

// Reads the token at p under the Microsoft C runtime's rules for argv: 2n backslashes before a double
// quote give n backslashes and the quote opens or closes a quoted part, 2n + 1 give n and a literal
// quote, other backslashes are literal; a doubled quote inside a quoted part gives one quote and the
// part goes on (the C runtime's rule since 2008, ucrt's; CommandLineToArgvW and the older C
// runtimes end the part there). Writes and measures as ReadSettingToken does.
template <typename Char> static const Char* ReadCommandToken(const Char* p, Char* out, size_t* length)
{
    size_t n = 0;
    bool inQuotes = false;
    while (*p != 0 && (inQuotes || !IsSeparator(*p, true))) {
        if (*p == '\\') {
            size_t slashes = 0;
            while (p[slashes] == '\\')
                slashes++;
            bool beforeQuote = p[slashes] == '"';
            for (size_t i = 0; i < (beforeQuote ? slashes / 2 : slashes); i++)
                PutUnit(out, &n, (Char)'\\');
            p += slashes;
            if (beforeQuote && slashes % 2 == 1)
                PutUnit(out, &n, *p++);
        } else if (*p == '"') {
            if (inQuotes && p[1] == '"')
                PutUnit(out, &n, *++p);
            else
                inQuotes = !inQuotes;
            p++;
        } else {
            PutUnit(out, &n, *p++);
        }
    }
    *length = n;
    return p;
}

template <typename Char> static const Char* ReadToken(const Char* p, bool commandLine, Char* out, size_t* length)
{
    return commandLine ? ReadCommandToken(p, out, length) : ReadSettingToken(p, out, length);
}

template <typename Char> static const Char* SkipSeparators(const Char* p, bool commandLine)
{
    while (IsSeparator(*p, commandLine))
        p++;
    return p;
}

template <typename Char> static int CountTokens(const Char* text, bool commandLine)
{
    int count = 0;
    size_t length;
    for (const Char* p = SkipSeparators(text, commandLine); *p != 0;
         p = SkipSeparators(ReadToken(p, commandLine, (Char*)nullptr, &length), commandLine))
        count++;
    return count;
}

template <typename Char> static void FreeTokens(Char** slots, int count)
{
    for (int i = 0; i < count; i++)
        free(slots[i]);
    free(slots);
}

// Stores the tokens of text into slots first to count - 1; false when memory ran out.
template <typename Char> static bool FillTokens(const Char* text, bool commandLine, Char** slots, int first, int count)
{
    const Char* p = SkipSeparators(text, commandLine);
    for (int slot = first; slot < count; slot++) {
        size_t length;
        ReadToken(p, commandLine, (Char*)nullptr, &length);
        if ((slots[slot] = (Char*)calloc(length + 1, sizeof(Char))) == nullptr)
            return false;
        p = SkipSeparators(ReadToken(p, commandLine, slots[slot], &length), commandLine);
    }
    return true;
}

template <typename Char>
static void SplitText(const Char* text, bool commandLine, int* count, Char*** array, bool reserveFirst)
{
    *count = 0;
    *array = nullptr;
    int tokens = text != nullptr ? CountTokens(text, commandLine) : 0;
    int total = tokens + (reserveFirst ? 1 : 0);
    if (total == 0)
        return;
    Char** slots = (Char**)calloc((size_t)total, sizeof(Char*));
    if (slots == nullptr)
        return;
    if (tokens > 0 && !FillTokens(text, commandLine, slots, reserveFirst ? 1 : 0, total)) {
        FreeTokens(slots, total);
        return;
    }
    *count = total;
    *array = slots;
}

void SplitArguments(const char* text, int* count, char*** array, bool reserveFirst)
{
    SplitText(text, false, count, array, reserveFirst);
}

void SplitArguments(const wchar_t* text, int* count, wchar_t*** array, bool reserveFirst)
{
    SplitText(text, false, count, array, reserveFirst);
}

void SplitCommandLine(const wchar_t* text, int* count, wchar_t*** array, bool reserveFirst)
{
    SplitText(text, true, count, array, reserveFirst);
}

char* NextToken(char* text, const char* delimiters, char** cursor)
{
    if (text == nullptr || (*cursor != nullptr && **cursor == 0)) {
        *cursor = nullptr;
        return nullptr;
    }
    char* token = *cursor != nullptr ? *cursor : text;
    token += strspn(token, delimiters);
    if (*token == 0) {
        *cursor = nullptr;
        return nullptr;
    }
    char* end = strpbrk(token, delimiters);
    if (end != nullptr) {
        *end = 0;
        *cursor = end + 1;
    } else {
        *cursor = token + strlen(token);
    }
    return token;
}
