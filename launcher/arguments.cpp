#include "arguments.h"

#include <stdlib.h>
#include <string.h>

// The splitting rules are written once, for both widths of text: the settings in the ANSI code page
// and the UTF-16 command line. Only the blank and the double quote matter, which are the same
// single unit in both, so every other unit (a surrogate, paired or not, included) is copied as it is.

// Counts the tokens of text (leading blanks already skipped) by the splitting rules.
template <typename Char> static int CountTokens(const Char* text)
{
    int count = 0;
    bool inQuotes = false;
    bool afterBlank = false;
    for (const Char* p = text; *p; p++) {
        if (*p == ' ') {
            afterBlank = true;
            if (!inQuotes)
                count++;
        } else {
            afterBlank = false;
            if (*p == '"')
                inQuotes = !inQuotes;
        }
    }
    // The last token ends at the end of the text unless the text ended in a blank.
    return afterBlank ? count : count + 1;
}

// A new zero-filled copy of a token of the given length; a token that begins with a double quote
// loses its first and its last character (a lone double quote gives an empty text).
template <typename Char> static Char* CopyToken(const Char* start, size_t length)
{
    if (length > 0 && start[0] == '"') {
        start++;
        length = length >= 2 ? length - 2 : 0;
    }
    Char* token = (Char*)calloc(length + 1, sizeof(Char));
    if (token != nullptr)
        memcpy(token, start, length * sizeof(Char));
    return token;
}

// Stores the tokens of text (leading blanks already skipped) into slots first to count - 1.
template <typename Char> static bool FillTokens(const Char* text, Char** slots, int first, int count)
{
    bool inQuotes = false;
    bool afterBlank = false;
    int slot = first;
    const Char* start = text;
    const Char* p = text;
    for (; *p; p++) {
        if (*p == ' ') {
            afterBlank = true;
            if (!inQuotes) {
                if (slot >= count || (slots[slot++] = CopyToken(start, (size_t)(p - start))) == nullptr)
                    return false;
                start = p + 1;
            }
        } else {
            afterBlank = false;
            if (*p == '"')
                inQuotes = !inQuotes;
        }
    }
    if (!afterBlank) {
        if (slot >= count || (slots[slot] = CopyToken(start, (size_t)(p - start))) == nullptr)
            return false;
    }
    return true;
}

template <typename Char> static void FreeTokens(Char** slots, int count)
{
    for (int i = 0; i < count; i++)
        free(slots[i]);
    free(slots);
}

template <typename Char> static void SplitText(const Char* text, int* count, Char*** array, bool reserveFirst)
{
    *count = 0;
    *array = nullptr;
    const Char* start = text;
    int tokens = 0;
    if (text != nullptr && *text != 0) {
        while (*start == ' ')
            start++;
        tokens = CountTokens(start);
    }
    int total = tokens + (reserveFirst ? 1 : 0);
    if (total == 0)
        return;
    Char** slots = (Char**)calloc((size_t)total, sizeof(Char*));
    if (slots == nullptr)
        return;
    if (tokens > 0 && !FillTokens(start, slots, reserveFirst ? 1 : 0, total)) {
        FreeTokens(slots, total);
        return;
    }
    *count = total;
    *array = slots;
}

void SplitArguments(const char* text, int* count, char*** array, bool reserveFirst)
{
    SplitText(text, count, array, reserveFirst);
}

void SplitArguments(const wchar_t* text, int* count, wchar_t*** array, bool reserveFirst)
{
    SplitText(text, count, array, reserveFirst);
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
