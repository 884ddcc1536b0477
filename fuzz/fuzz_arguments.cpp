// SplitArguments and NextToken: every token must be a substring-derived text of the input, and the
// tokens NextToken yields must hold no delimiter.
#include "arguments.h"
#include "fuzz_text.h"

static void CheckSplit(const char* text, bool reserveFirst)
{
    int count = 0;
    char** array = NULL;
    SplitArguments(text, &count, &array, reserveFirst);
    size_t length = strlen(text);
    for (int i = 0; i < count; i++) {
        if (reserveFirst && i == 0) {
            if (array[0] != NULL)
                abort();
            continue;
        }
        if (array[i] == NULL || strlen(array[i]) > length)
            abort();
        free(array[i]);
    }
    free(array);
}

static void CheckTokens(char* text, const char* delimiters)
{
    size_t length = strlen(text);
    char* end = text + length;
    char* cursor = NULL;
    for (char* token = NextToken(text, delimiters, &cursor); token != NULL;
         token = NextToken(text, delimiters, &cursor)) {
        if (token < text || token >= end || *token == 0 || strpbrk(token, delimiters) != NULL)
            abort();
        if (cursor == NULL || cursor < token || cursor > end)
            abort();
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The first byte picks the delimiter set of NextToken; the rest is the text.
    static const char* const delimiterSets[] = {";", " ", " \t", ";,"};
    if (size == 0)
        return 0;
    char* text = FuzzText(data + 1, size - 1);
    if (text == NULL)
        return 0;
    CheckSplit(text, (data[0] & 0x80) != 0);
    CheckTokens(text, delimiterSets[data[0] & 3]);
    free(text);
    return 0;
}
