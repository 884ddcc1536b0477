// The launcher's tokenizers: SplitArguments turns a setting's text into an argument vector with the
// launcher's own quoting rules, SplitCommandLine the command line with the C runtime's; NextToken walks
// a ';'-separated list in place. Portable: no Windows headers.
#pragma once

/* arguments.cpp */

// Splits text at blanks into *count separately allocated texts in *array (zero-filled, owned by the
// caller; null when the count is 0). Only the blank separates and runs of blanks count as one, a
// double quote only protects blanks, and a token that begins with a double quote loses its first and
// last character ("" gives an empty token). With reserveFirst, slot 0 stays null and is counted.
// If memory runs out, the result is a count of 0 and a null array.
void SplitArguments(const char* text, int* count, char*** array, bool reserveFirst);
// The same rules over UTF-16 text (AppOptions and the service's arguments, widened): every unit but
// the blank and the double quote, a lone surrogate included, is kept as it is.
void SplitArguments(const wchar_t* text, int* count, wchar_t*** array, bool reserveFirst);
// Splits the command line's tail (the program name skipped) as the Microsoft C runtime splits argv:
// blanks and tabs separate, double quotes group, backslashes escape quotes, a doubled quote inside
// quotes is one quote; otherwise as SplitArguments.
void SplitCommandLine(const wchar_t* text, int* count, wchar_t*** array, bool reserveFirst);

// Returns the next token of text delimited by any of delimiters, or null when there is none; the
// delimiter ending the token is overwritten with a zero byte. The caller's cursor starts null.
char* NextToken(char* text, const char* delimiters, char** cursor);
