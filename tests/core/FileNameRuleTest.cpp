#include "core/FileNameRule.h"

#include <gtest/gtest.h>

#include <string>

TEST(FileNameRule, ABareNameHasNoPathPartNoReservedCharacterAndNoTrailingDotOrBlank)
{
    // What a caller refuses on top (devices, DEL, its own suffixes) is still a bare name here.
    for (const char* name : {"app.exe", "Jörg 产品.txt", " lead", "a.b.c", "nul", "x.uTMP", "a\x7f", "\xFF"})
        EXPECT_TRUE(IsBareFileName(name)) << name;
    for (const char* name : {"", ".", "..", "a\\b", "a/b", "C:x", "a*b", "a?b", "a\"b", "a<b", "a>b", "a|b", "a\x01",
                             "a\x1f", "end.", "end "})
        EXPECT_FALSE(IsBareFileName(name)) << name;
    EXPECT_FALSE(IsBareFileName(std::string("a\0b", 3))) << "an embedded NUL would cut the name";
}
