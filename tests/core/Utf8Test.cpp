#include "core/Utf8.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(Utf8, EveryUtf16TextComesBackExactlyUnpairedSurrogatesIncluded)
{
    const std::u16string samples[] = {
        u"plain", u"J\u00f6rg \u4ea7\u54c1", u"\u65e5\u672cTool", u"\U0001F600 emoji",
        std::u16string(1, char16_t(0xD800)) + u"Tool",         // lone high surrogate
        u"a" + std::u16string(1, char16_t(0xDC00)),             // lone low surrogate
        std::u16string({char16_t(0xDC00), char16_t(0xD800)}),  // a pair in the wrong order
    };
    for (const std::u16string& text : samples)
        EXPECT_EQ(Utf16FromUtf8(Utf8FromUtf16(text)), text);
    EXPECT_EQ(Utf8FromUtf16(u"J\u00f6rg \u4ea7"), "J\xc3\xb6rg \xe4\xba\xa7");
    EXPECT_EQ(Utf8FromUtf16(u"\U0001F600"), "\xf0\x9f\x98\x80");
    // A lone surrogate is only representable in the generalised form, which strict UTF-8 rejects.
    EXPECT_FALSE(IsValidUtf8(Utf8FromUtf16(std::u16string(1, char16_t(0xD800)))));
}

TEST(Utf8, MalformedBytesGiveOneReplacementEachAndAreNotValid)
{
    struct Case {
        std::string bytes;
        std::u16string decoded;
    };
    const Case cases[] = {
        {"\xc0\xaf", u"\ufffd\ufffd"},                   // overlong "/"
        {"\xe0\x80\xaf", u"\ufffd"},                     // overlong, three bytes
        {"\xf4\x90\x80\x80", u"\ufffd"},                 // above U+10FFFF
        {"a\xe4\xba", u"a\ufffd"},                       // truncated at the end
        {"\xe4\xba" "b", u"\ufffdb"},                    // truncated before ASCII
        {"\x80\xbf", u"\ufffd\ufffd"},                   // stray continuation bytes
        {"\xff\xfe", u"\ufffd\ufffd"},                   // bytes no UTF-8 has
        {"\xed\xa0\x80\xed\xb0\x80", u"\U00010000"},      // an encoded pair decodes, but is not valid
    };
    for (const Case& c : cases) {
        EXPECT_FALSE(IsValidUtf8(c.bytes)) << c.bytes;
        EXPECT_EQ(Utf16FromUtf8(c.bytes), c.decoded) << c.bytes;
    }
    // A byte-order mark in the middle is an ordinary character.
    EXPECT_TRUE(IsValidUtf8("a\xef\xbb\xbf" "b"));
    EXPECT_EQ(Utf16FromUtf8("a\xef\xbb\xbf" "b"), u"a\ufeffb");
    EXPECT_TRUE(IsValidUtf8(""));
}

TEST(Utf8, LongNamesConvertWhole)
{
    const std::u16string name(32767, u'\u4e2d');
    const std::string utf8 = Utf8FromUtf16(name);
    EXPECT_EQ(utf8.size(), 3u * 32767);
    EXPECT_TRUE(IsValidUtf8(utf8));
    EXPECT_EQ(Utf16FromUtf8(utf8), name);
}

TEST(Utf8, FieldsAreCutBetweenCharactersByTheirUtf16Length)
{
    const std::string mixed = "a\xc3\xb6\xe4\xba\xa7\xf0\x9f\x98\x80z";  // a, o-umlaut, CJK, emoji (a pair), z
    const std::size_t expected[] = {0, 1, 3, 6, 6, 10, 11, 11};
    for (std::size_t units = 0; units < std::size(expected); ++units)
        EXPECT_EQ(Utf8PrefixLength(mixed, units), expected[units]) << units;
    EXPECT_EQ(Utf8PrefixLength("", 5), 0u);
    // Malformed bytes count as the replacement each becomes; a cut never splits what one decodes.
    EXPECT_EQ(Utf8PrefixLength("\xe4\xba" "b", 1), 2u);
    EXPECT_EQ(Utf8PrefixLength("\xff\xfe", 1), 1u);
    const std::string lone = Utf8FromUtf16(std::u16string(1, char16_t(0xD800)) + u"x");
    EXPECT_EQ(Utf8PrefixLength(lone, 1), 3u);
    const std::string cjk = Utf8FromUtf16(std::u16string(300, u'\u65e5'));
    EXPECT_EQ(Utf16FromUtf8(cjk.substr(0, Utf8PrefixLength(cjk, 255))).size(), 255u);
}

}  // namespace
