// UTF-8 text as UTF-16 and back, for the W calls: the kit's paths and texts are UTF-8, and so are the
// jvm.dll double's. Inline, so that each program (the double has a C library of its own) has its copy.
#pragma once

#include <windows.h>

#include <string>

inline std::wstring Wide(const std::string& utf8)
{
    std::wstring wide(utf8.size(), L'\0');
    wide.resize(MultiByteToWideChar(CP_UTF8, 0, utf8.data(), (int)utf8.size(), &wide[0], (int)wide.size()));
    return wide;
}

inline std::string Utf8(const std::wstring& wide)
{
    std::string utf8(wide.size() * 3, '\0');  // a UTF-16 unit needs at most 3 bytes
    utf8.resize(WideCharToMultiByte(CP_UTF8, 0, wide.data(), (int)wide.size(), &utf8[0], (int)utf8.size(), NULL, NULL));
    return utf8;
}
