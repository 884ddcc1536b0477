// ExpandVariablesWith with a lookup that defines some names (values from the input itself), and
// AppendEnvironmentValue on its own.
#include "expand.h"
#include "fuzz_text.h"

// Values of the defined variables: the second half of the input, and a few fixed texts.
static const char* FuzzValue = "";

static const char* Lookup(const char* name)
{
    if (strcmp(name, "EMPTY") == 0)
        return "";
    if (strcmp(name, "QUOTE") == 0)
        return "\"";
    if (strcmp(name, "PATH") == 0)
        return "\"C:\\Program Files\\x\"";
    if (name[0] == 'F')
        return FuzzValue;
    return NULL;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    size_t half = size / 2;
    char* text = FuzzText(data, half);
    char* value = FuzzText(data + half, size - half);
    if (text == NULL || value == NULL) {
        free(text);
        free(value);
        return 0;
    }
    FuzzValue = value;
    char* expanded = ExpandVariablesWith(text, "C:\\jdk", Lookup);
    if (expanded == NULL)
        abort();
    // Without a percent sign the text comes back unchanged.
    if (strchr(text, '%') == NULL && strcmp(expanded, text) != 0)
        abort();
    free(expanded);
    GrowableString string = {};
    if (!AppendEnvironmentValue(&string, value) || string.length > strlen(value))
        abort();
    FreeGrowableString(&string);
    free(text);
    free(value);
    return 0;
}
