// ExpandVariablesWith on any text, with every name defined as itself in double quotes and JAVA_HOME
// standing for "JAVA_HOME": each reference then gives its own name back (quotes removed), and an
// unclosed one keeps its text, so the result must be the text without its percent signs.
#include "expand.h"
#include "fuzz.h"

#include <algorithm>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    char* text = FuzzText(data, size);
    char* expanded = ExpandVariablesWith(text, "JAVA_HOME", [](const char* name) {
        static std::string value;
        return (value = std::string("\"") + name + "\"").c_str();
    });
    std::string expected(text);
    expected.erase(std::remove(expected.begin(), expected.end(), '%'), expected.end());
    FAULT_IF(expanded == NULL || expected != expanded);
    free(expanded);
    free(text);
    return 0;
}
