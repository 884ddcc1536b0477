#include "arguments.h"

#include <stdlib.h>
#include <string.h>

// Counts the tokens of text (leading blanks already skipped) by the splitting rules.
static int CountTokens(const char* text)
{
    int count = 0;
    bool inQuotes = false;
    bool afterBlank = false;
    for (const char* p = text; *p; p++) {
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
static char* CopyToken(const char* start, size_t length)
{
    if (length > 0 && start[0] == '"') {
        start++;
        length = length >= 2 ? length - 2 : 0;
    }
    char* token = (char*)calloc(length + 1, 1);
    if (token != nullptr)
        memcpy(token, start, length);
    return token;
}

// Stores the tokens of text (leading blanks already skipped) into slots first to count - 1.
static bool FillTokens(const char* text, char** slots, int first, int count)
{
    bool inQuotes = false;
    bool afterBlank = false;
    int slot = first;
    const char* start = text;
    const char* p = text;
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

static void FreeTokens(char** slots, int count)
{
    for (int i = 0; i < count; i++)
        free(slots[i]);
    free(slots);
}

void SplitArguments(const char* text, int* count, char*** array, bool reserveFirst)
{
    *count = 0;
    *array = nullptr;
    const char* start = text;
    int tokens = 0;
    if (text != nullptr && *text != 0) {
        while (*start == ' ')
            start++;
        tokens = CountTokens(start);
    }
    int total = tokens + (reserveFirst ? 1 : 0);
    if (total == 0)
        return;
    char** slots = (char**)calloc((size_t)total, sizeof(char*));
    if (slots == nullptr)
        return;
    if (tokens > 0 && !FillTokens(start, slots, reserveFirst ? 1 : 0, total)) {
        FreeTokens(slots, total);
        return;
    }
    *count = total;
    *array = slots;
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
