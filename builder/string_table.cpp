#include "string_table.h"

Bytes EncodeStringBlock(const StringBlock& block)
{
    Bytes out;
    for (const std::u16string& text : block) {
        AppendU16(out, (uint16_t)text.size());
        for (char16_t c : text)
            AppendU16(out, c);
    }
    return out;
}

bool DecodeStringBlock(const Bytes& data, StringBlock& block)
{
    size_t at = 0;
    for (std::u16string& text : block) {
        text.clear();
        if (at + 2 > data.size())
            return at == data.size(); // a block may stop after its last non-empty string
        size_t length = ReadU16(data, at);
        at += 2;
        if (at + 2 * length > data.size())
            return false;
        for (size_t i = 0; i < length; i++, at += 2)
            text.push_back((char16_t)ReadU16(data, at));
    }
    return true;
}
