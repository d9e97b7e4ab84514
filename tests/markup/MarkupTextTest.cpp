#include "markup/Gradient.h"
#include "markup/MarkupColor.h"
#include "markup/MarkupText.h"

#include <gtest/gtest.h>

TEST(MarkupColor, EncodingsAndNames)
{
    EXPECT_EQ(ParseHTMLColor("#FF0000"), 0x0000FFu) << "red in the low byte";
    EXPECT_EQ(ParseHTMLColor("#00FF00"), 0x00FF00u);
    EXPECT_EQ(ParseHTMLColor("#0000FF"), 0xFF0000u);
    EXPECT_EQ(ParseHTMLColor("#123456"), 0x563412u);
    EXPECT_EQ(ParseHTMLColor("clRed"), clRed);
    EXPECT_EQ(ParseHTMLColor("CLNAVY"), 0x800000u);
    EXPECT_EQ(ParseHTMLColor("clWindow"), 0x80000005u);
    EXPECT_EQ(ParseHTMLColor("clBackground"), 0x80000001u);
    EXPECT_EQ(ParseHTMLColor("clInfoBk"), 0x80000018u);
    EXPECT_EQ(ParseHTMLColor("clHighlight"), clHighlight);
    EXPECT_EQ(ParseHTMLColor("orange"), clBlack);
    EXPECT_EQ(ParseHTMLColor(""), clBlack);
    EXPECT_EQ(clNone, 0x1FFFFFFFu);
}

TEST(MarkupColor, HexReadsOnlyDigitsAndUpperCaseLetters)
{
    // "f" is 102 - 55 = 47: the pair is 16 * 47 + 47 = 799, which carries into green.
    EXPECT_EQ(ParseHTMLColor("#ff0000"), static_cast<TColor>(799));
    EXPECT_NE(ParseHTMLColor("#ff0000"), clRed);
    EXPECT_EQ(ParseHTMLColor("#F"), 0u) << "a one-character pair counts 0";
    EXPECT_EQ(ParseHTMLColor("#FFFF0"), 0x00FFFFu);
    EXPECT_EQ(ParseHTMLColor("#"), 0u);
    // A blank is 32 - 48 = -16: the value wraps like a 32-bit integer.
    EXPECT_EQ(ParseHTMLColor("#  "), static_cast<TColor>(-272));
    EXPECT_EQ(ParseHTMLColor("#\xFF\xFF"), static_cast<TColor>(16 * 200 + 200));
}

TEST(MarkupText, EntitiesAreReplacedUntilNoneIsLeft)
{
    EXPECT_EQ(ReplaceEntities("a &amp; b"), "a && b");
    EXPECT_EQ(ReplaceEntities("&QUOT;x&quot;"), "\"x\"");
    EXPECT_EQ(ReplaceEntities("&sect;&permil;&reg;&copy;&para;&trade;&euro;"),
              "\u00A7\u2030\u00AE\u00A9\u00B6\u2122\u20AC")
        << "Unicode characters in UTF-8, not bytes of a code page";
    EXPECT_EQ(ReplaceEntities("&amp;amp;"), "&&&") << "the ampersand left by one entity starts the next";
    EXPECT_EQ(ReplaceEntities("&amp;quot;"), "&\"");
    EXPECT_EQ(ReplaceEntities("&amp;lt;"), "&&lt;");
    EXPECT_EQ(ReplaceEntities("&am&amp;p;"), "&&am&&p;");
    EXPECT_EQ(ReplaceEntities("R&D &unknown; & &amp"), "R&&D &&unknown; && &&amp")
        << "an ampersand of no entity shows as itself";
    EXPECT_EQ(ReplaceEntities("&"), "&&");
    EXPECT_EQ(ReplaceEntities("&lt;&nbsp;&gt"), "&lt;&nbsp;&&gt") << "the run's entities are left to the run";
}

TEST(MarkupText, NumericReferencesGiveUnicodeCharacters)
{
    EXPECT_EQ(ReplaceEntities("&#169; &#xA9; &#XA9; &#65;&#066;"), "\u00A9 \u00A9 \u00A9 AB");
    EXPECT_EQ(ReplaceEntities("&#x4E2D;&#25991;"), "\u4E2D\u6587");
    EXPECT_EQ(ReplaceEntities("&#x1F600;"), "\xF0\x9F\x98\x80") << "four bytes, a surrogate pair in UTF-16";
    EXPECT_EQ(ReplaceEntities("&#128;&#150;&#153;"), "\u20AC\u2013\u2122") << "the Windows-1252 signs";
    EXPECT_EQ(ReplaceEntities("&#38;&#60;b&#62;"), "&&&lt;b&gt;") << "markup signs show, they do not act";
    EXPECT_EQ(PrepareMarkup("a&#13;&#10;b&#9;c"), "a<BR>b\tc") << "a line break acts as in the text";

    // References to no character: U+FFFD, never a crash, a byte of a code page or a NUL.
    for (const char* bad : {"&#0;", "&#x0;", "&#1;", "&#127;", "&#129;", "&#xD800;", "&#xDFFF;", "&#55296;",
                            "&#x110000;", "&#1114112;", "&#99999999999999999999999;", "&#xFFFFFFFFFFFFFFFFFFFF;"})
        EXPECT_EQ(ReplaceEntities(bad), "\uFFFD") << bad;
    // No reference: the text stays, its ampersand shown.
    for (const char* none : {"&#;", "&#x;", "&#65", "&#65 ;", "&#-1;", "&#x4G;", "&#", "&#x"})
        EXPECT_EQ(ReplaceEntities(none), "&" + std::string(none)) << none;
    EXPECT_EQ(ReplaceEntities("&amp;#169;"), "&&#169;") << "an escaped ampersand starts no reference";
    EXPECT_EQ(ReplaceEntities("&#38;amp;"), "&&amp;") << "nor does a referenced one";
}

TEST(MarkupText, EntityPassesStayLinear)
{
    // Ten thousand chained ampersands: repeated whole-text passes would take
    // ten thousand passes; the single pass gives the same result.
    std::string chained = "&amp;";
    for (int i = 0; i < 10000; ++i)
        chained.append("amp;");
    const std::string replaced = ReplaceEntities(chained);
    EXPECT_EQ(replaced.size(), 10002u);
    EXPECT_EQ(replaced.find_first_not_of('&'), std::string::npos);
}

TEST(MarkupText, PreparationAndRunEntities)
{
    EXPECT_EQ(PrepareMarkup("x\r\ny"), "x<BR>y");
    EXPECT_EQ(PrepareMarkup("a<#b>c>d"), "abc>d");
    EXPECT_EQ(PrepareMarkup("<#open"), "open");
    EXPECT_EQ(ReplaceRunEntities("a&nbsp;b&LT;c&gt;"), "a b<c>");
    EXPECT_EQ(ReplaceRunEntities("&&lt;"), "&&<") << "an escaped ampersand stays escaped";
    EXPECT_EQ(ReplaceRunEntities("&&&&"), "&&&&");
    EXPECT_EQ(ReplaceRunEntities("&x &"), "&x &");
    EXPECT_EQ(PrefixProcessed("a && b &c &"), "a & b c ");
}

TEST(MarkupText, TagsKeepTheirEntitiesForTheirValues)
{
    EXPECT_EQ(PrepareMarkup(R"(a&amp;b<A href="?x=1&amp;y=2">c&amp;d</A>&lt;)"),
              R"(a&&b<A href="?x=1&amp;y=2">c&&d</A>&lt;)");
    EXPECT_EQ(PrepareMarkup("x<#&amp;>y"), "x&&y") << "the text between \"<#\" and \">\" is text";
    EXPECT_EQ(PrepareMarkup("&amp;<unclosed &amp;"), "&&<unclosed &amp;");
    EXPECT_EQ(DecodeAttribute("?a=1&amp;b=2"), "?a=1&b=2");
    EXPECT_EQ(DecodeAttribute("&amp;amp;"), "&amp;") << "decoded once";
    EXPECT_EQ(DecodeAttribute("&quot;&#38;&#x3C;&lt;&GT;&nbsp;&euro;&#150;&#0;"), "\"&<<> \u20AC\u2013\uFFFD");
    EXPECT_EQ(DecodeAttribute("R&D & &amp"), "R&D & &amp") << "other ampersands stay";
}

TEST(MarkupText, LineBreaksBecomeBlanks)
{
    EXPECT_EQ(BlanksForLineBreaks("crashes\nFaster"), "crashes Faster");
    EXPECT_EQ(BlanksForLineBreaks("one\r\ntwo\r\n\r\nthree"), "one two three") << "a run of breaks is one blank";
    EXPECT_EQ(BlanksForLineBreaks("\r\nmessage\n"), "message") << "none at the ends";
    EXPECT_EQ(BlanksForLineBreaks("a \nb\n c\t\nd"), "a b c\td") << "none beside a blank";
    EXPECT_EQ(BlanksForLineBreaks("<b>New</b>\nfaster"), "<b>New</b> faster");
    EXPECT_EQ(BlanksForLineBreaks("Fixed:<BR>\n<UL>\n<LI>\ncrash</LI>\n<li class=\"x\">\nspeed</ul>\n<p align=\"center\">\nend"),
              "Fixed:<BR><UL><LI>crash</LI><li class=\"x\">speed</ul><p align=\"center\">end")
        << "no blank where a line or an item begins";
    EXPECT_EQ(BlanksForLineBreaks("a -> b<bold>\nx> y\nz"), "a -> b<bold> x> y z");
    EXPECT_EQ(BlanksForLineBreaks(""), "");
    EXPECT_EQ(BlanksForLineBreaks("\n\r"), "");
}

TEST(MarkupText, StripHTML)
{
    EXPECT_EQ(StripHTML("a<br>b<HR>c"), "a\r\nb\r\nc");
    EXPECT_EQ(StripHTML("<b>bold</b> &amp; <a href=\"x\">link</a>"), "bold &amp; link");
    EXPECT_EQ(StripHTML("keep<z>hidden</z> this<Z>HIDDEN</Z>!"), "keep this!");
    EXPECT_EQ(StripHTML("keep<z>hidden to the end"), "keep");
    EXPECT_EQ(StripHTML("text <unclosed tag"), "text ");
    EXPECT_EQ(StripHTML("<z>a<Z>b</z>c</Z>d"), "cd") << "lower-case spans go first";
    EXPECT_EQ(StripHTML("<br"), "");
}

TEST(MarkupText, AttributesAndNumbers)
{
    const std::string_view tag = R"(<IMG src="pic.gif" WIDTH="40px" alt=none>)";
    EXPECT_EQ(AttributeValue(tag, "SRC").value_or("?"), "pic.gif");
    EXPECT_EQ(MarkupNumber(AttributeValue(tag, "WIDTH").value_or("")), 40);
    EXPECT_FALSE(AttributeValue(tag, "ALT")) << "no quoted value after the name";
    EXPECT_FALSE(AttributeValue(tag, "HEIGHT"));
    EXPECT_EQ(AttributeValue(R"(<A href="unclosed>)", "HREF").value_or("?"), "unclosed");
    EXPECT_EQ(MarkupNumber("99999999999999999999"), kMaxMarkupNumber);
    EXPECT_EQ(MarkupNumber("-5"), 0);
    EXPECT_EQ(MarkupNumber("12ab"), 12);
    EXPECT_TRUE(IsMarkupNumber("120"));
    EXPECT_FALSE(IsMarkupNumber("12a"));
    EXPECT_FALSE(IsMarkupNumber(""));
}

TEST(MarkupText, OnlyWebAndMailLinksGoToTheShell)
{
    for (const char* link : {"http://example.test/", "HTTPS://x", "ftp://host/file", "MailTo:someone@example.test"})
        EXPECT_TRUE(IsShellOpenableLink(link)) << link;
    for (const char* link : {"file:///c:/windows/system32/calc.exe", "\\\\server\\share\\run.exe", "javascript:alert(1)",
                             "calc.exe", "c:\\program.exe", "res://x", "xhttp://", " http://x", ""})
        EXPECT_FALSE(IsShellOpenableLink(link)) << link;
}

TEST(MarkupText, LocalPictureSources)
{
    for (const char* source : {"FILE://c:\\a.bmp", "file://x", "SSYS:3", "lsys:c:\\", "\\\\server\\share\\a.gif",
                               "//server/share/a.gif"})
        EXPECT_TRUE(IsLocalPictureSource(source)) << source;
    for (const char* source : {"http://x/a.gif", "RES://LOGO", "logo", "IDX:2"})
        EXPECT_FALSE(IsLocalPictureSource(source)) << source;
}

TEST(Gradient, BandsRoundHalvesToEvenAndNeverDivideByZero)
{
    const auto bands = GradientBands(MakeColor(0, 0, 0), MakeColor(3, 255, 10), 4, 8);
    ASSERT_EQ(bands.size(), 4u);
    EXPECT_EQ(bands[0].color, MakeColor(0, 0, 0));
    // 1 * 3 / 4 = 0.75 -> 1; 2 * 3 / 4 = 1.5 -> 2; 3 * 3 / 4 = 2.25 -> 2; 2 * 10 / 4 = 5; 1 * 10 / 4 = 2.5 -> 2.
    EXPECT_EQ(bands[1].color, MakeColor(1, 64, 2));
    EXPECT_EQ(bands[2].color, MakeColor(2, 128, 5));
    EXPECT_EQ(bands[3].color, MakeColor(2, 191, 8));
    EXPECT_EQ(bands[3].from, 6);
    EXPECT_EQ(bands[3].to, 8);

    for (const int steps : {0, -3}) {
        const auto one = GradientBands(clRed, clBlue, steps, 3);
        ASSERT_EQ(one.size(), 1u) << steps;
        EXPECT_EQ(one[0].color, clRed);
        EXPECT_EQ(one[0].to, 3);
    }
    EXPECT_EQ(GradientBands(clRed, clBlue, 64, 10).size(), 10u) << "bands narrower than a pixel are left out";
    EXPECT_TRUE(GradientBands(clRed, clBlue, 5, 0).empty());
}
