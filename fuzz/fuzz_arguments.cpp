// SplitArguments as a round trip: the input is a flag byte and a list of arguments separated by NUL
// bytes, written as tokens by a quoting of this file's own and joined by blanks; splitting must give
// the list back. NextToken on the input's text must give its runs between semicolons.
#include "arguments.h"
#include "fuzz.h"

#include <string>
#include <vector>

// Appends arg as a token, plain or wrapped in a quote and a last character that splitting drops; only
// quotes protect blanks, and must be closed after it. False when that form cannot give arg back.
static bool Quote(const std::string& arg, bool wrap, std::string* out)
{
    wrap |= arg.empty() || arg[0] == '"';
    bool inQuotes = wrap, unprotected = false;
    for (char c : arg)
        unprotected |= c == ' ' && !inQuotes, inQuotes ^= c == '"';
    *out += wrap ? "\"" + arg + (inQuotes ? "\"" : "x") : arg;
    return !unprotected && (wrap || !inQuotes);
}

static void CheckSplit(const std::string& list, int flags)
{
    std::vector<std::string> args, got;
    for (size_t at = 1; list.size() > 1 && at <= list.size(); at += args.back().size() + 1)
        args.push_back(list.substr(at, list.find('\0', at) - at));
    std::string text, pad = args.empty() || !(flags & 2) ? "" : " "; // blanks around the text give nothing
    for (size_t i = 0; i < args.size(); i++)
        if (!Quote(args[i], flags >> (2 + i % 6) & 1, &(text += i ? " " : "")))
            return;
    int count, reserve = flags & 1;
    char** array;
    SplitArguments((pad + pad + text + pad).c_str(), &count, &array, reserve);
    for (int i = reserve; i < count; free(array[i++]))
        got.push_back(array[i]);
    FAULT_IF(count != (int)args.size() + reserve || (reserve && array[0] != NULL) || got != args);
    free(array);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    char* text = FuzzText(data, size);
    std::vector<std::string> expected, tokens;
    std::string list = text;
    for (size_t at = 0; (at = list.find_first_not_of(';', at)) != std::string::npos; at += expected.back().size())
        expected.push_back(list.substr(at, list.find(';', at) - at));
    for (char* cursor = NULL, *token; (token = NextToken(text, ";", &cursor)) != NULL;)
        tokens.push_back(token);
    FAULT_IF(tokens != expected);
    free(text);
    CheckSplit(std::string((const char*)data, size), size > 0 ? data[0] : 0);
    return 0;
}
