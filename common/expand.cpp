#include "expand.h"

#include <stdlib.h>
#include <string.h>

bool AppendEnvironmentValue(GrowableString* string, const char* value)
{
    if (value == NULL)
        return true;
    size_t length = strlen(value);
    if (length > 0 && value[0] == '"') {
        ++value;
        --length;
    }
    if (length > 0 && value[length - 1] == '"')
        --length;
    return AppendTextPart(string, value, length);
}

// Appends the value of the reference name[0..length).
static bool AppendReference(GrowableString* result, const char* name, size_t length, const char* javaHome,
                            VariableLookup lookup)
{
    if (length == 9 && memcmp(name, "JAVA_HOME", 9) == 0)
        return AppendText(result, javaHome);
    if (length == 0)
        return true;
    char* copy = (char*)malloc(length + 1);
    if (copy == NULL)
        return false;
    memcpy(copy, name, length);
    copy[length] = 0;
    bool ok = AppendEnvironmentValue(result, lookup(copy));
    free(copy);
    return ok;
}

char* ExpandVariablesWith(const char* text, const char* javaHome, VariableLookup lookup)
{
    GrowableString result = {};
    bool ok = true;
    const char* cursor = text;
    while (ok && *cursor != 0) {
        const char* percent = strchr(cursor, '%');
        if (percent == NULL) {
            ok = AppendText(&result, cursor);
            break;
        }
        ok = AppendTextPart(&result, cursor, (size_t)(percent - cursor));
        const char* close = strchr(percent + 1, '%');
        if (close == NULL) {
            // Never closed: not a reference; its text stays, its percent sign does not.
            ok = ok && AppendText(&result, percent + 1);
            break;
        }
        ok = ok && AppendReference(&result, percent + 1, (size_t)(close - percent - 1), javaHome, lookup);
        cursor = close + 1;
    }
    if (!ok) {
        FreeGrowableString(&result);
        return NULL;
    }
    // Nothing appended: the result is an empty heap text all the same.
    return result.text != NULL ? result.text : (char*)calloc(1, 1);
}
