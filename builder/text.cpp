#include "text.h"

namespace {

#include "codepages.inc"

// The upper half of a single-byte Windows code page, or null for the others.
const char16_t* HighHalf(unsigned codePage)
{
    for (const CodePageTable& table : CodePageTables)
        if (table.CodePage == codePage)
            return table.High;
    return nullptr;
}

// The byte for a code point in a single-byte code page, or -1.
int SingleByte(char32_t c, unsigned codePage)
{
    if (c < 0x80)
        return (int)c;
    if (codePage == 28591)
        return c < 0x100 ? (int)c : -1;
    const char16_t* high = HighHalf(codePage);
    for (int i = 0; high != nullptr && i < 128; i++)
        if (high[i] != 0 && high[i] == c)
            return 0x80 + i;
    return -1;
}

void AppendUtf8(std::string& out, char32_t c)
{
    if (c < 0x80) {
        out.push_back((char)c);
    } else if (c < 0x800) {
        out.push_back((char)(0xC0 | (c >> 6)));
        out.push_back((char)(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back((char)(0xE0 | (c >> 12)));
        out.push_back((char)(0x80 | ((c >> 6) & 0x3F)));
        out.push_back((char)(0x80 | (c & 0x3F)));
    } else {
        out.push_back((char)(0xF0 | (c >> 18)));
        out.push_back((char)(0x80 | ((c >> 12) & 0x3F)));
        out.push_back((char)(0x80 | ((c >> 6) & 0x3F)));
        out.push_back((char)(0x80 | (c & 0x3F)));
    }
}

// Reads the code point at text[i], advancing i; U+FFFD for an unpaired surrogate.
char32_t NextCodePoint(const std::u16string& text, size_t& i)
{
    char32_t c = text[i++];
    if (c >= 0xD800 && c < 0xDC00 && i < text.size() && text[i] >= 0xDC00 && text[i] < 0xE000)
        return 0x10000 + ((c - 0xD800) << 10) + (text[i++] - 0xDC00);
    return (c >= 0xD800 && c < 0xE000) ? 0xFFFD : c;
}

// Decodes one UTF-8 sequence at text[i], advancing i; false when it is invalid.
bool NextUtf8(const std::string& text, size_t& i, char32_t& c)
{
    unsigned char b = (unsigned char)text[i++];
    int more = b < 0x80 ? 0 : (b >> 5) == 6 ? 1 : (b >> 4) == 14 ? 2 : (b >> 3) == 30 ? 3 : -1;
    if (more < 0)
        return false;
    c = more == 0 ? b : b & (0x3F >> more);
    for (int k = 0; k < more; k++) {
        if (i >= text.size() || ((unsigned char)text[i] & 0xC0) != 0x80)
            return false;
        c = (c << 6) | ((unsigned char)text[i++] & 0x3F);
    }
    static const char32_t least[4] = {0, 0x80, 0x800, 0x10000};
    return c >= least[more] && c < 0x110000 && !(c >= 0xD800 && c < 0xE000);
}

} // namespace

bool Utf8ToUtf16(const std::string& text, std::u16string& out)
{
    out.clear();
    for (size_t i = 0; i < text.size();) {
        char32_t c;
        if (!NextUtf8(text, i, c))
            return false;
        if (c >= 0x10000) {
            out.push_back((char16_t)(0xD800 + ((c - 0x10000) >> 10)));
            out.push_back((char16_t)(0xDC00 + ((c - 0x10000) & 0x3FF)));
        } else {
            out.push_back((char16_t)c);
        }
    }
    return true;
}

std::string Utf16ToUtf8(const std::u16string& text)
{
    std::string out;
    for (size_t i = 0; i < text.size();)
        AppendUtf8(out, NextCodePoint(text, i));
    return out;
}

bool IsDoubleByteCodePage(unsigned codePage)
{
    return codePage == 932 || codePage == 936 || codePage == 949 || codePage == 950;
}

bool IsKnownCodePage(unsigned codePage)
{
    return codePage == 28591 || codePage == 20127 || codePage == 65001 || HighHalf(codePage) != nullptr ||
           IsDoubleByteCodePage(codePage);
}

bool EncodeCodePage(const std::u16string& text, unsigned codePage, std::string& out,
                    std::string* bad)
{
    out.clear();
    for (size_t i = 0; i < text.size();) {
        char32_t c = NextCodePoint(text, i);
        int byte = codePage == 65001 ? (c == 0xFFFD ? -1 : 0) : SingleByte(c, codePage);
        if (byte < 0) {
            if (bad)
                *bad = Utf16ToUtf8(std::u16string(1, (char16_t)(c < 0x10000 ? c : 0xFFFD)));
            return false;
        }
        if (codePage == 65001)
            AppendUtf8(out, c);
        else
            out.push_back((char)byte);
    }
    return true;
}

std::u16string DecodeCodePage(const std::string& bytes, unsigned codePage)
{
    std::u16string out;
    if (codePage == 65001) {
        if (!Utf8ToUtf16(bytes, out))
            out = u"\uFFFD";
        return out;
    }
    const char16_t* high = HighHalf(codePage);
    for (unsigned char b : bytes) {
        char16_t c = b;
        if (b >= 0x80 && high != nullptr)
            c = high[b - 0x80] ? high[b - 0x80] : 0xFFFD;
        else if (b >= 0x80 && (codePage == 20127 || IsDoubleByteCodePage(codePage)))
            c = 0xFFFD;
        out.push_back(c);
    }
    return out;
}
