// Modified UTF-8 as JNI defines it, against the double's decoder and validator.
#include <gtest/gtest.h>

#include "jvm_double.h"

TEST(DoubleModifiedUtf8, AcceptsAndDecodesJniForms) {
    struct Case {
        const char* bytes;
        std::u16string text;
    } cases[] = {
        {"plain ascii", u"plain ascii"},
        {"\xC3\xA9t\xC3\xA9", u"\u00E9t\u00E9"},
        {"\xC0\x80", std::u16string(1, u'\0')},                        // NUL in its two-byte form
        {"\xE2\x82\xAC", u"\u20AC"},
        {"\xED\xA0\xBD\xED\xB8\x80", u"\U0001F600"},                    // a surrogate pair, 3 bytes each
    };
    for (const Case& c : cases) {
        EXPECT_TRUE(IsModifiedUtf8(c.bytes)) << c.bytes;
        EXPECT_EQ(DecodeModifiedUtf8(c.bytes), c.text) << c.bytes;
    }
}

TEST(DoubleModifiedUtf8, RejectsWhatJniForbids) {
    const char* bad[] = {
        "\xF0\x9F\x98\x80",   // a standard UTF-8 four-byte form
        "caf\xE9",            // an ANSI (Windows-1252) byte
        "\xE9\x41",           // a lead byte followed by ASCII
        "\xC3",               // cut short by the end
        "\x80\x80",           // a continuation byte without a lead
        "\xFF",
    };
    for (const char* b : bad) EXPECT_FALSE(IsModifiedUtf8(b)) << "accepted bytes starting " << int(static_cast<unsigned char>(b[0]));
}

TEST(DoubleUtf8Output, EncodesPairsAndReplacesLoneSurrogates) {
    EXPECT_EQ(EncodeUtf8(u"H\u00E9\U0001F600"), "H\xC3\xA9\xF0\x9F\x98\x80");
    EXPECT_EQ(EncodeUtf8(std::u16string(u"a") + char16_t(0xD800) + u"b"), "a?b");
    EXPECT_EQ(EncodeUtf8(std::u16string(1, char16_t(0xDC00))), "?");
    EXPECT_EQ(DecodeUtf8("\xE2\x82\xAC\xF0\x9F\x98\x80"), u"\u20AC\U0001F600");
}
