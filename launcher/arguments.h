// The launcher's two tokenizers: SplitArguments turns a text into an argument vector with the
// launcher's own quoting rules; NextToken walks a ';'-separated list in place. Portable: no Windows headers.
#pragma once

/* arguments.cpp */

// Splits text at blanks into *count separately allocated texts in *array (zero-filled, owned by the
// caller; null when the count is 0). Only the blank separates, a double quote only protects blanks,
// k blanks between tokens give k - 1 empty tokens, and a token that begins with a double quote loses
// its first and last character. With reserveFirst, slot 0 stays null and is counted.
// If memory runs out, the result is a count of 0 and a null array.
void SplitArguments(const char* text, int* count, char*** array, bool reserveFirst);
// The same rules over UTF-16 text (the command line): every unit but the blank and the double quote,
// a lone surrogate included, is kept as it is.
void SplitArguments(const wchar_t* text, int* count, wchar_t*** array, bool reserveFirst);

// Returns the next token of text delimited by any of delimiters, or null when there is none; the
// delimiter ending the token is overwritten with a zero byte. The caller's cursor starts null.
char* NextToken(char* text, const char* delimiters, char** cursor);
