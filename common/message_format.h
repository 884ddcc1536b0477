// Message texts of the settings are printf formats that the launcher fills with at most one text.
// These checks keep a configured text from reading arguments that are not there. Portable.
#pragma once

#include <stddef.h>

// Number of "%s" conversions in text, or -1 when it holds any other conversion (a lone '%' at the
// end included); "%%" stands for a percent sign and counts as text.
int CountMessageArguments(const char* text);
// True when text may be used as the format of a message given `arguments` texts: no conversion
// other than "%s" and "%%", and at most `arguments` of "%s".
bool IsSafeMessageFormat(const char* text, int arguments);
// Writes text with every '%' doubled, so that as a format it shows itself literally. out must hold
// 2 * strlen(text) + 1 bytes; false (out emptied) when it does not.
bool EscapeMessageFormat(const char* text, char* out, size_t outSize);
