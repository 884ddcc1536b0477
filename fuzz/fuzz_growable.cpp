// GrowableString under a sequence of appends taken from the input: the text always equals the
// concatenation, the length is its length and the capacity holds it with the NUL.
#include "growable.h"

#include <stdlib.h>
#include <string.h>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    GrowableString string = {};
    std::string expected;
    size_t at = 0;
    // Each step: one length byte (scaled), then that many bytes appended, as a part or a whole text.
    while (at < size) {
        size_t count = (size_t)data[at] * ((data[at] & 1) ? 37 : 1);
        bool whole = (data[at] & 2) != 0;
        at++;
        if (count > size - at)
            count = size - at;
        std::string piece((const char*)data + at, count);
        at += count;
        if (whole) {
            piece = piece.c_str();
            if (!AppendText(&string, piece.c_str()))
                abort();
        } else if (!AppendTextPart(&string, piece.data(), piece.size())) {
            abort();
        }
        expected.append(piece);
        if (string.length != expected.size() || (string.text == NULL) != expected.empty())
            abort();
        if (string.text != NULL && (string.capacity < string.length + 1 ||
                                    memcmp(string.text, expected.data(), expected.size()) != 0 ||
                                    string.text[string.length] != 0))
            abort();
    }
    FreeGrowableString(&string);
    return 0;
}
