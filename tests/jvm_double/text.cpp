// Java text: strings are UTF-16; JNI hands text over as modified UTF-8 (NUL as C0 80, characters above
// U+FFFF as two 3-byte surrogates, never a 4-byte form); the double prints and traces UTF-8.
#include "jvm_double.h"

static bool IsContinuation(unsigned char b) { return (b & 0xC0) == 0x80; }

// Length of the modified UTF-8 sequence starting with lead, or 0 when lead cannot start one.
static int SequenceLength(unsigned char lead) {
    if (lead >= 0x01 && lead <= 0x7F) return 1;
    if ((lead & 0xE0) == 0xC0) return 2;
    if ((lead & 0xF0) == 0xE0) return 3;
    return 0;
}

bool IsModifiedUtf8(const char* bytes) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(bytes);
    while (*p) {
        int n = SequenceLength(*p);
        if (n == 0) return false;
        for (int i = 1; i < n; i++)
            if (!IsContinuation(p[i])) return false;  // also stops at the terminating NUL
        p += n;
    }
    return true;
}

std::u16string DecodeModifiedUtf8(const char* bytes) {
    std::u16string text;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(bytes);
    while (*p) {
        int n = SequenceLength(*p);
        if (n == 1) text += static_cast<char16_t>(p[0]);
        else if (n == 2) text += static_cast<char16_t>(((p[0] & 0x1F) << 6) | (p[1] & 0x3F));
        else text += static_cast<char16_t>(((p[0] & 0x0F) << 12) | ((p[1] & 0x3F) << 6) | (p[2] & 0x3F));
        p += n;
    }
    return text;
}

// Decodes one standard UTF-8 sequence at p (end excluded); returns its code point, or U+FFFD and 1.
static char32_t NextUtf8(const unsigned char* p, const unsigned char* end, size_t& used) {
    int n = (*p < 0x80) ? 1 : ((*p & 0xE0) == 0xC0) ? 2 : ((*p & 0xF0) == 0xE0) ? 3 : ((*p & 0xF8) == 0xF0) ? 4 : 0;
    used = 1;
    if (n == 0 || end - p < n) return 0xFFFD;
    char32_t c = (n == 1) ? *p : (*p & (0x7F >> n));
    for (int i = 1; i < n; i++) {
        if (!IsContinuation(p[i])) return 0xFFFD;
        c = (c << 6) | (p[i] & 0x3F);
    }
    used = static_cast<size_t>(n);
    return c;
}

std::u16string DecodeUtf8(const std::string& bytes) {
    std::u16string text;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const unsigned char* end = p + bytes.size();
    while (p < end) {
        size_t used;
        char32_t c = NextUtf8(p, end, used);
        p += used;
        if (c >= 0x10000) {
            c -= 0x10000;
            text += static_cast<char16_t>(0xD800 + (c >> 10));
            text += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
        } else {
            text += static_cast<char16_t>(c);
        }
    }
    return text;
}

static void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

std::string EncodeUtf8(const std::u16string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); i++) {
        char32_t c = text[i];
        bool high = c >= 0xD800 && c <= 0xDBFF, low = c >= 0xDC00 && c <= 0xDFFF;
        if (high && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
        } else if (high || low) {
            c = '?';
        }
        AppendUtf8(out, c);
    }
    return out;
}
