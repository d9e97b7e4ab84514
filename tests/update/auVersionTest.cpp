#include "update/auVersion.h"
#include "update/auUpgraderLanguage.h"

#include <gtest/gtest.h>

namespace {

constexpr TauCalendarDate Today{2026, 12, 7};

TEST(Versions, NumericPartsDecide)
{
    EXPECT_GT(CompareVersions("1.10", "1.9"), 0);
    EXPECT_LT(CompareVersions("1.9", "1.10"), 0);
    EXPECT_EQ(CompareVersions("1.2", "1.2.0.0"), 0);
    EXPECT_EQ(CompareVersions("1.2.0.0", "1.2"), 0);
    EXPECT_GT(CompareVersions("2", "1.9.9.9"), 0);
    EXPECT_EQ(CompareVersions("1.2.3.4.9", "1.2.3.4.1"), 0) << "a fifth part is ignored";
    EXPECT_EQ(CompareVersions("1.2.3.4", "1.2.3.4"), 0);
    EXPECT_LT(CompareVersions("1.2.3.4", "1.2.3.5"), 0);
    EXPECT_EQ(CompareVersions("+2", "2"), 0);
    EXPECT_EQ(CompareVersions("01.002", "1.2"), 0);
    EXPECT_EQ(CompareVersions("1.2", "1.2"), 0);
}

TEST(Versions, BlanksAndInvalidPartsFallBackToBytes)
{
    EXPECT_GT(CompareVersions("1.2 ", "1.2"), 0) << "a trailing blank makes the part invalid";
    EXPECT_EQ(CompareVersions(" 1. 2", "1.2"), 0) << "leading blanks are allowed";
    EXPECT_GT(CompareVersions("1.x", "1.2"), 0);
    EXPECT_LT(CompareVersions("1.2", "1.x"), 0);
    EXPECT_LT(CompareVersions("1..2", "1.2"), 0) << "an empty part: bytes, '.' < '2'";
    EXPECT_LT(CompareVersions("-1", "1"), 0) << "-1 counts as invalid: bytes";
    EXPECT_GT(CompareVersions("-2", "-1"), 0) << "-2 vs -1 as bytes";
    EXPECT_LT(CompareVersions("-5", "3"), 0);
    EXPECT_GT(CompareVersions("99999999999", "2"), 0) << "overflow: bytes, '9' > '2'";
    EXPECT_LT(CompareVersions("2147483648", "3"), 0) << "just past the range: bytes";
    EXPECT_GT(CompareVersions("2147483647", "3"), 0) << "the largest integer is numeric";
    EXPECT_LT(CompareVersions("", "1"), 0);
    EXPECT_EQ(CompareVersions("", ""), 0);
    EXPECT_LT(CompareVersions("1.0", "1.0a"), 0);
    EXPECT_GT(CompareVersions("\xff", "9"), 0) << "bytes compare unsigned";
    EXPECT_EQ(CompareVersions(".", "."), 0);
}

TEST(Dates, MonthDayYearWhateverTheLocale)
{
    EXPECT_EQ(ParseInfoDate("05/03/2004", Today), (TauCalendarDate{2004, 5, 3}));
    EXPECT_EQ(ParseInfoDate("5/3/2004", Today), (TauCalendarDate{2004, 5, 3}));
    EXPECT_EQ(ParseInfoDate("12/31/9999", Today), (TauCalendarDate{9999, 12, 31}));
    EXPECT_EQ(ParseInfoDate("02/29/2004", Today), (TauCalendarDate{2004, 2, 29}));
    EXPECT_EQ(ParseInfoDate(" 2/ 1/ 2000", Today), (TauCalendarDate{2000, 2, 1}));
    EXPECT_EQ(FormatInfoDate({2004, 5, 3}), "05/03/2004");
    EXPECT_EQ(ParseInfoDate(FormatInfoDate(Today), {1, 1, 1}), Today);
}

TEST(Dates, InvalidDatesCountAsToday)
{
    for (const char* bad : {"13/45/2004", "02/29/2003", "00/10/2004", "05/00/2004", "05/03/0", "05/03/10000",
                            "05/03", "05032004", "", "//", "a/b/c", "05/03/2004 ", "05/03/2004/1", "-5/3/2004",
                            "05/03/99999999999", "2004-05-03", "05.03.2004"})
        EXPECT_EQ(ParseInfoDate(bad, Today), Today) << bad;
}

TEST(Dates, NewerOnlyWhenStrictlyLater)
{
    EXPECT_TRUE(IsNewerByDate("05/04/2004", "05/03/2004", Today));
    EXPECT_FALSE(IsNewerByDate("05/03/2004", "05/03/2004", Today));
    EXPECT_FALSE(IsNewerByDate("05/02/2004", "05/03/2004", Today));
    EXPECT_TRUE(IsNewerByDate("01/01/2005", "12/31/2004", Today));
    EXPECT_TRUE(IsNewerByDate("not a date", "05/03/2004", Today)) << "a bad published date counts as today";
    EXPECT_FALSE(IsNewerByDate("13/45/2004", "12/07/2026", Today));
    EXPECT_FALSE(IsNewerByDate("05/03/2004", "garbage", Today)) << "a bad own date counts as today";
}

TEST(MessageTable, BlocksAndLanguageChoice)
{
    EXPECT_EQ(UpgraderBlockStart(wlEnglish), 41000u);
    EXPECT_EQ(UpgraderBlockStart(wlAuto), 41000u);
    EXPECT_EQ(UpgraderBlockStart(wlRussian), 41050u);
    EXPECT_EQ(UpgraderBlockStart(wlIcelandic), 41000u + 50u * 24u);

    EXPECT_EQ(LanguageFromLangId(0x0416), wlPortugueseBrazilian);
    EXPECT_EQ(LanguageFromLangId(0x0816), wlPortuguese);
    EXPECT_EQ(LanguageFromLangId(0x0016), wlPortuguese);
    EXPECT_EQ(LanguageFromLangId(0x0804), wlChineseSimplified);
    EXPECT_EQ(LanguageFromLangId(0x0404), wlChineseTraditional);
    EXPECT_EQ(LanguageFromLangId(0x0C04), wlChineseTraditional);
    EXPECT_EQ(LanguageFromLangId(0x1004), wlChineseTraditional) << "Singapore is sublanguage 4";
    EXPECT_EQ(LanguageFromLangId(0x0419), wlRussian);
    EXPECT_EQ(LanguageFromLangId(0x0407), wlGerman);
    EXPECT_EQ(LanguageFromLangId(0x0C07), wlGerman);
    EXPECT_EQ(LanguageFromLangId(0x040C), wlFrench);
    EXPECT_EQ(LanguageFromLangId(0x0C0A), wlSpanish);
    EXPECT_EQ(LanguageFromLangId(0x0422), wlUkrainian);
    EXPECT_EQ(LanguageFromLangId(0x042D), wlBasque);
    EXPECT_EQ(LanguageFromLangId(0x0436), wlAfrikaans);
    EXPECT_EQ(LanguageFromLangId(0x043E), wlMalay);
    EXPECT_EQ(LanguageFromLangId(0x040F), wlIcelandic);
    EXPECT_EQ(LanguageFromLangId(0x0421), wlIndonesian);
    EXPECT_EQ(LanguageFromLangId(0x0409), wlEnglish);
    EXPECT_EQ(LanguageFromLangId(0x0411), wlEnglish) << "Japanese is not in the table";
    EXPECT_EQ(LanguageFromLangId(0x0415), wlEnglish) << "Polish is not in the table";
    EXPECT_EQ(LanguageFromLangId(0x0000), wlEnglish);
    EXPECT_EQ(LanguageFromLangId(0xFFFF), wlEnglish);
}

}  // namespace
