// Text conversions: UTF-8 config text to the UTF-16 of the string table, and checks against the
// ANSI code page through which the launcher reads it (LoadStringA).
#pragma once

#include <string>

// Converts UTF-8 to UTF-16. False (out unspecified) when the text is not valid UTF-8.
bool Utf8ToUtf16(const std::string& text, std::u16string& out);
// Converts UTF-16 to UTF-8; unpaired surrogates become U+FFFD.
std::string Utf16ToUtf8(const std::u16string& text);
// True for the code pages the builder knows: the single-byte Windows code pages 874 and 1250 to 1258,
// 28591 (Latin-1), 20127 (ASCII), 65001 (UTF-8) and the double-byte ones (IsDoubleByteCodePage).
bool IsKnownCodePage(unsigned codePage);
// True for the double-byte Windows code pages 932 (Japanese), 936 (Simplified Chinese), 949 (Korean)
// and 950 (Traditional Chinese). The builder holds no table of them: of the texts bound to the code
// page it takes ASCII only (the messages are not bound to it).
bool IsDoubleByteCodePage(unsigned codePage);
// Encodes UTF-16 text in the code page, as LoadStringA does (a double-byte one: ASCII only). False
// when a character has no byte in it; *bad then holds that character (as UTF-8).
bool EncodeCodePage(const std::u16string& text, unsigned codePage, std::string& out,
                    std::string* bad);
// Decodes code-page bytes to UTF-16 (bytes the code page leaves undefined, and those past ASCII of a
// double-byte code page, become U+FFFD).
std::u16string DecodeCodePage(const std::string& bytes, unsigned codePage);
// Length of a UTF-16 text in units, as the string table counts it.
inline size_t Utf16Units(const std::u16string& text) { return text.size(); }
