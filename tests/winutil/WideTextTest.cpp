#include "winutil/WideText.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>

TEST(WideText, PublisherTextIsUtf8OrTheCodePage)
{
    const std::string russianAndChinese = "\u041D\u043E\u0432\u0430\u044F \u7248\u672C";
    EXPECT_EQ(Utf8FromPublisherText(russianAndChinese), russianAndChinese) << "UTF-8 as it stands";
    EXPECT_EQ(Utf8FromPublisherText("\xEF\xBB\xBF" + russianAndChinese), russianAndChinese) << "the mark dropped";
    EXPECT_EQ(Utf8FromPublisherText("\xEF\xBB\xBF"), "");
    EXPECT_EQ(Utf8FromPublisherText("a\xEF\xBB\xBF" "b"), "a\xEF\xBB\xBF" "b") << "a mark in the middle is a character";
    EXPECT_EQ(Utf8FromPublisherText(""), "");

    // Not UTF-8: read in the system's code page, as older files were.
    const std::string ansi = "Caf\xE9 \xFC" "ber \x80 5";
    EXPECT_EQ(Utf8FromPublisherText(ansi), Utf8FromWide(WideFromAnsi(ansi)));
    if (GetACP() == 1252) {
        EXPECT_EQ(Utf8FromPublisherText(ansi), "Caf\u00E9 \u00FCber \u20AC 5");
    }
    for (const std::string& bad : {std::string("\xC0\xAF"), std::string("\xE4\xB8"), std::string("\xED\xA0\x80"),
                                  std::string("ok \xF4\x90\x80\x80")}) {
        EXPECT_EQ(Utf8FromPublisherText(bad), Utf8FromWide(WideFromAnsi(bad)))
            << "overlong, truncated, an encoded surrogate, beyond U+10FFFF";
    }

    // After the mark the text is UTF-8 whatever follows: a bad byte is U+FFFD.
    EXPECT_EQ(Utf8FromPublisherText("\xEF\xBB\xBF" "a\xE9" "b\xED\xA0\x80"), "a\uFFFD" "b\uFFFD");

    // A megabyte of mixed scripts and bad bytes: a defined result.
    std::string huge;
    while (huge.size() < (1u << 20))
        huge += "\u4E2D\u6587 \u0416 abc ";
    EXPECT_EQ(Utf8FromPublisherText(huge), huge);
    huge += '\xFF';
    const std::string read = Utf8FromPublisherText(huge);
    EXPECT_GE(read.size(), huge.size()) << "read in the code page, every byte a character";
}
