#include "markup/HTMLLayout.h"

#include "markup/FakeCanvas.h"
#include "markup/LineBreak.h"
#include "core/Utf8.h"
#include "markup/MarkupText.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

// Arial 10 on the fake canvas: 5 pixels a character, 12 a line.
constexpr int kChar = 5;
constexpr int kLine = 12;

HTMLDrawResult Draw(FakeCanvas& canvas, std::string_view text, int width = 400, int height = 400)
{
    HTMLDrawParams params;
    params.text = text;
    params.rect = {0, 0, width, height};
    params.linkColor = clBlue;
    return DrawHTMLText(canvas, params);
}

std::string Shown(const FakeCanvas& canvas)
{
    std::string shown;
    for (const auto& call : canvas.texts)
        shown += PrefixProcessed(call.text);
    return shown;
}

// The text drawn on each line, top to bottom.
std::vector<std::string> Lines(const FakeCanvas& canvas)
{
    std::vector<std::string> lines;
    int top = -1;
    for (const auto& call : canvas.texts) {
        if (lines.empty() || call.rect.top != top)
            lines.emplace_back();
        top = call.rect.top;
        lines.back() += call.text;
    }
    return lines;
}

int Rightmost(const FakeCanvas& canvas)
{
    int right = 0;
    for (const auto& call : canvas.texts)
        right = std::max(right, call.rect.right);
    return right;
}

const FakeCanvas::TextCall& CallFor(const FakeCanvas& canvas, std::string_view text)
{
    for (const auto& call : canvas.texts)
        if (call.text == text)
            return call;
    throw std::runtime_error("not drawn: " + std::string(text));
}

} // namespace

TEST(HTMLLayout, EntitiesDrawAsTheirCharacters)
{
    FakeCanvas plain;
    Draw(plain, "a &amp; b");
    EXPECT_EQ(Shown(plain), "a & b");
    FakeCanvas escaped;
    Draw(escaped, "&amp;lt;");
    EXPECT_EQ(Shown(escaped), "&<");
    FakeCanvas others;
    Draw(others, "&lt;b&gt;&nbsp;&quot;&euro;");
    EXPECT_EQ(Shown(others), "<b> \"\u20AC");
}

TEST(HTMLLayout, LineBreaksAndRestoredCanvas)
{
    for (const char* text : {"x<BR>y", "x\r\ny", "x<br>y"}) {
        FakeCanvas canvas;
        canvas.SetBrush(clYellow);
        const HTMLDrawResult result = Draw(canvas, text);
        ASSERT_EQ(canvas.texts.size(), 2u) << text;
        EXPECT_EQ(canvas.texts[0].rect, (MarkupRect{0, 0, kChar, kLine}));
        EXPECT_EQ(canvas.texts[1].rect, (MarkupRect{0, kLine, kChar, 2 * kLine}));
        EXPECT_EQ(result.height, 2 * kLine);
        EXPECT_EQ(result.width, kChar);
        EXPECT_EQ(canvas.Brush(), clYellow);
        EXPECT_EQ(canvas.texts[0].brush, clNone) << "text is drawn on a clear brush";
    }
    FakeCanvas empty;
    EXPECT_EQ(Draw(empty, "").height, kLine) << "an empty text is one line high";
}

TEST(HTMLLayout, WordWrap)
{
    FakeCanvas canvas;
    // 10 characters a line: "bbbbbb" would end at 55 and moves down.
    Draw(canvas, "aaaa bbbbbb", 50);
    EXPECT_EQ(CallFor(canvas, "bbbbbb").rect.top, kLine);
    EXPECT_EQ(CallFor(canvas, "bbbbbb").rect.left, 0);

    FakeCanvas exact;
    Draw(exact, "aaaa bbbbb", 50);
    EXPECT_EQ(CallFor(exact, "bbbbb").rect.top, kLine) << "a word ending exactly at the edge moves down";

    FakeCanvas wide;
    Draw(wide, "cccccccccccc dd", 50);
    EXPECT_EQ(CallFor(wide, "cccccccccc").rect, (MarkupRect{0, 0, 50, kLine}))
        << "a word wider than the line is broken between characters";
    EXPECT_EQ(CallFor(wide, "cc ").rect.top, kLine);
    EXPECT_EQ(CallFor(wide, "dd").rect, (MarkupRect{15, kLine, 25, 2 * kLine}));

    FakeCanvas trailing;
    const HTMLDrawResult result = Draw(trailing, "ab ");
    EXPECT_EQ(result.width, 2 * kChar) << "the trailing blank does not count";
}

// An ideograph is 15 pixels wide on the fake canvas (5 a byte).
TEST(HTMLLayout, LinesBreakBetweenIdeographs)
{
    // The sentence that was laid out 687 pixels wide in a 263 pixel label.
    const std::string sentence =
        "\u65B0\u7248\u672C\u4FEE\u590D\u4E86\u542F\u52A8\u9879\u76EE\u548C\u6587\u4EF6\u5939\u7684"
        "\u591A\u4E2A\u95EE\u9898\uFF0C\u8BF7\u5728\u5B89\u88C5\u524D\u9605\u8BFB\u53D1\u884C\u8BF4"
        "\u660E\u5E76\u5173\u95ED\u6240\u6709\u6B63\u5728\u8FD0\u884C\u7684\u7A0B\u5E8F\u3002";
    FakeCanvas chinese;
    const HTMLDrawResult result = Draw(chinese, sentence, 263);
    EXPECT_LE(result.width, 263);
    EXPECT_LE(Rightmost(chinese), 263);
    const std::vector<std::string> lines = Lines(chinese);
    ASSERT_EQ(lines.size(), 3u) << "48 ideographs of 15 pixels: 17 on a line";
    EXPECT_EQ(lines[0].size(), 17u * 3);
    EXPECT_EQ(lines[0] + lines[1] + lines[2], sentence) << "every character drawn once, in order";
    EXPECT_EQ(result.height, 3 * kLine);

    FakeCanvas kana;
    Draw(kana, "\u3053\u3093\u306B\u3061\u306F\uC548\uB155", 35);
    EXPECT_EQ(Lines(kana), (std::vector<std::string>{"\u3053\u3093", "\u306B\u3061", "\u306F\uC548", "\uB155"}))
        << "kana and hangul break like ideographs";

    FakeCanvas mixed;
    Draw(mixed, "Freshet \u66F4\u65B0\u5DE5\u5177 2.0", 70);
    EXPECT_EQ(Lines(mixed), (std::vector<std::string>{"Freshet \u66F4", "\u65B0\u5DE5\u5177 2.0"}))
        << "a line may break before and after an ideograph, never before the blank";

    FakeCanvas tagged;
    Draw(tagged, "\u4E2D\u6587<B>\u4E2D\u6587</B>\u4E2D", 50);
    EXPECT_EQ(Lines(tagged), (std::vector<std::string>{"\u4E2D\u6587\u4E2D", "\u6587\u4E2D"}))
        << "ideographs break across a tag";
}

TEST(HTMLLayout, PunctuationStaysWithItsIdeograph)
{
    FakeCanvas closing;
    Draw(closing, "\u4E2D\u6587\u4E2D\u6587\u3002\u4E2D", 65);
    EXPECT_EQ(Lines(closing), (std::vector<std::string>{"\u4E2D\u6587\u4E2D", "\u6587\u3002\u4E2D"}))
        << "a full stop never starts a line: the ideograph before it goes down with it";

    FakeCanvas opening;
    Draw(opening, "\u4E2D\u6587\u4E2D\u300C\u6587\u300D", 65);
    EXPECT_EQ(Lines(opening), (std::vector<std::string>{"\u4E2D\u6587\u4E2D", "\u300C\u6587\u300D"}))
        << "an opening bracket never ends a line";

    FakeCanvas latin;
    Draw(latin, "\u4E2D\u6587\u4E2D\u6587.", 65);
    EXPECT_EQ(Lines(latin), (std::vector<std::string>{"\u4E2D\u6587\u4E2D", "\u6587."}));

    EXPECT_TRUE(BreaksBetween(U'\u4E2D', U'a'));
    EXPECT_TRUE(BreaksBetween(U'a', U'\u4E2D'));
    EXPECT_FALSE(BreaksBetween(U'a', U'b')) << "other scripts break at blanks only";
    EXPECT_FALSE(BreaksBetween(U'\u4E2D', U'\u3099')) << "nor before a combining mark";
    EXPECT_FALSE(BreaksBetween(U'&', U'\u4E2D')) << "nor after the ampersand that underlines the next character";
}

TEST(HTMLLayout, RunsWiderThanTheLineBreakBetweenCharacters)
{
    FakeCanvas address;
    const std::string url = "http://example.test/releases/2.0/notes-for-everyone.html";
    Draw(address, "See " + url + " ok", 100);
    EXPECT_EQ(Lines(address),
              (std::vector<std::string>{"See ", url.substr(0, 20), url.substr(20, 20), url.substr(40) + " ok"}))
        << "a long address starts a line of its own and fills each line";
    EXPECT_LE(Rightmost(address), 100);

    // Two-byte, four-byte and combined characters are never cut.
    for (const std::string& word : {std::string("\u0416\u0416\u0416\u0416\u0416\u0416\u0416"),
                                   std::string("\xF0\x9F\x98\x80\xF0\x9F\x98\x80\xF0\x9F\x98\x80"),
                                   std::string("e\u0301e\u0301e\u0301e\u0301")}) {
        FakeCanvas canvas;
        Draw(canvas, word, 12);
        std::string joined;
        for (const auto& call : canvas.texts) {
            EXPECT_TRUE(IsValidUtf8(call.text)) << "a piece ends inside a character";
            EXPECT_NE(call.text.substr(0, 2), "\u0301") << "a mark stays with its letter";
            joined += call.text;
        }
        EXPECT_EQ(joined, word);
        EXPECT_GT(canvas.texts.size(), 1u);
    }

    FakeCanvas entity;
    Draw(entity, "aaaa&lt;&lt;&amp;bb", 20);
    EXPECT_EQ(Lines(entity), (std::vector<std::string>{"aaaa", "<<&&b", "b"})) << "an entity is one character";

    FakeCanvas narrow;
    Draw(narrow, "\u4E2D\u6587 ab", 3);
    EXPECT_EQ(Lines(narrow), (std::vector<std::string>{"\u4E2D", "\u6587 ", "a", "b"}))
        << "a line narrower than a character holds one";

    FakeCanvas glued;
    Draw(glued, "aa<B>bbbbbbbbbbbbbb</B>", 50);
    EXPECT_EQ(Lines(glued), (std::vector<std::string>{"aabbbbbbbb", "bbbbbb"}))
        << "a glued run wider than the line fills the line first";
}

TEST(HTMLLayout, BadUtf8HasADefinedLayout)
{
    // Overlong, truncated, an encoded surrogate, a byte-order mark in the
    // middle, stray continuation bytes, bytes that start nothing.
    const std::string bad = "\xC0\xAF\xE4\xB8 \xED\xA0\x80x\xEF\xBB\xBFy\x80\x80\xFE\xFF\xF4\x90\x80\x80\xE4";
    for (const int width : {1, 7, 20, 400}) {
        FakeCanvas canvas;
        const HTMLDrawResult result = Draw(canvas, bad, width);
        std::string joined;
        for (const auto& call : canvas.texts)
            joined += call.text;
        EXPECT_EQ(joined, bad) << "every byte drawn once, in order, at width " << width;
        EXPECT_GT(result.height, 0);
    }

    // A megabyte without a blank, in the ask dialog's width.
    std::string huge;
    while (huge.size() < (1u << 20))
        huge += "\u4E2D\u6587abc\xE4";
    FakeCanvas canvas(/*record=*/false);
    HTMLDrawParams params;
    params.text = huge;
    params.rect = {0, 0, 263, 1 << 28};
    const HTMLDrawResult result = DrawHTMLText(canvas, params);
    EXPECT_LE(result.width, 263);
    EXPECT_GE(result.height, (1 << 20) * kChar / 263 * kLine) << "no line holds more than its width";
}

TEST(HTMLLayout, FontStyles)
{
    FakeCanvas canvas;
    Draw(canvas, "<B>b</B><I>i</I><U>u</U><S>s</S>n");
    EXPECT_TRUE(CallFor(canvas, "b").font.bold);
    EXPECT_TRUE(CallFor(canvas, "i").font.italic);
    EXPECT_TRUE(CallFor(canvas, "u").font.underline);
    EXPECT_TRUE(CallFor(canvas, "s").font.strikeOut);
    const MarkupFont& normal = CallFor(canvas, "n").font;
    EXPECT_FALSE(normal.bold || normal.italic || normal.underline || normal.strikeOut);
    EXPECT_EQ(canvas.Font(), (MarkupFont{"Arial", 10})) << "the base font is back on the canvas";
}

TEST(HTMLLayout, SubscriptAndSuperscript)
{
    FakeCanvas canvas;
    const HTMLDrawResult result = Draw(canvas, "a<SUB>b</SUB>c<SUP>d</SUP>");
    // Each offset is a quarter of the line height; the line grows by both.
    EXPECT_EQ(result.height, kLine + 3 + 3);
    EXPECT_EQ(CallFor(canvas, "a").rect.bottom, kLine + 3);
    EXPECT_EQ(CallFor(canvas, "b").rect.bottom, kLine + 6);
    EXPECT_EQ(CallFor(canvas, "d").rect.bottom, kLine);
}

TEST(HTMLLayout, FontTag)
{
    FakeCanvas canvas;
    Draw(canvas, R"(<FONT face="Courier" size="3" color="#FF0000">x</FONT>y<FONT size="20" color="clRed">z</FONT>)"
                 R"(<FONT color="#ff0000">w</FONT>)");
    const auto& x = CallFor(canvas, "x");
    EXPECT_EQ(x.font.name, "Courier");
    EXPECT_EQ(x.font.size, 12);
    EXPECT_EQ(x.color, clRed);
    const auto& y = CallFor(canvas, "y");
    EXPECT_EQ(y.font.name, "Arial");
    EXPECT_EQ(y.font.size, 10);
    EXPECT_EQ(y.color, clBlack);
    EXPECT_EQ(CallFor(canvas, "z").font.size, 20);
    EXPECT_EQ(CallFor(canvas, "z").color, clRed);
    EXPECT_NE(CallFor(canvas, "w").color, clRed);

    FakeCanvas background;
    Draw(background, R"(<P bgcolor="clYellow">a<FONT bgcolor="clRed">b</FONT>c)");
    EXPECT_EQ(CallFor(background, "b").brush, clRed);
    EXPECT_EQ(CallFor(background, "c").brush, clYellow);
    EXPECT_EQ(background.Brush(), clNone);
}

TEST(HTMLLayout, ParagraphAlignmentAndIndent)
{
    FakeCanvas canvas;
    Draw(canvas, R"(<P align="center">ab<BR>cd<BR><P align="right">ef<BR><P align="left" indent="7">gh<BR>ij)", 100);
    EXPECT_EQ(CallFor(canvas, "ab").rect.left, 45);
    EXPECT_EQ(CallFor(canvas, "cd").rect.left, 45) << "alignment stays for following lines";
    EXPECT_EQ(CallFor(canvas, "ef").rect.left, 90);
    EXPECT_EQ(CallFor(canvas, "gh").rect.left, 7);
    EXPECT_EQ(CallFor(canvas, "ij").rect.left, 7);
}

TEST(HTMLLayout, NestedListsAlternateBullets)
{
    FakeCanvas canvas;
    Draw(canvas, "<UL><LI>one<UL><LI>two</UL><LI>three</UL>");
    std::vector<FakeCanvas::TextCall> bullets;
    for (const auto& call : canvas.texts)
        if (call.font.name == "Symbol")
            bullets.push_back(call);
    ASSERT_EQ(bullets.size(), 3u);
    EXPECT_EQ(bullets[0].text, "\u00B7");
    EXPECT_EQ(bullets[0].rect.left, 0);
    EXPECT_EQ(bullets[1].text, "o");
    EXPECT_EQ(bullets[1].rect.left, 12);
    EXPECT_EQ(bullets[2].text, "\u00B7");
    EXPECT_EQ(CallFor(canvas, "one").rect.left, 12);
    EXPECT_EQ(CallFor(canvas, "two").rect.left, 24);
    EXPECT_EQ(CallFor(canvas, "three").rect.left, 12);
    EXPECT_EQ(CallFor(canvas, "three").rect.top, 3 * kLine) << "each item starts a line";
}

TEST(HTMLLayout, HiddenTextTakesNoWidth)
{
    FakeCanvas canvas;
    Draw(canvas, "a<Z>hidden</Z>b");
    EXPECT_EQ(Shown(canvas), "ab");
    EXPECT_EQ(CallFor(canvas, "b").rect.left, kChar);
}

TEST(HTMLLayout, LinksAndHover)
{
    FakeCanvas canvas;
    const HTMLDrawResult result = Draw(canvas, R"(go <A href="http://x">here</A> now)");
    EXPECT_EQ(result.linkCount, 1);
    EXPECT_TRUE(CallFor(canvas, "here").font.underline);
    EXPECT_EQ(CallFor(canvas, "here").color, clBlue);
    EXPECT_FALSE(CallFor(canvas, " ").font.underline);
    EXPECT_EQ(CallFor(canvas, "now").color, clBlack);

    HTMLDrawParams params;
    params.text = R"(<A href="1">one</A> <A href="2">two</A>)";
    params.rect = {0, 0, 400, 400};
    params.linkColor = clBlue;
    params.hoverStyle = true;
    params.hoverLink = 2;
    params.hoverColor = clYellow;
    params.hoverFontColor = clRed;
    FakeCanvas hover;
    DrawHTMLText(hover, params);
    EXPECT_FALSE(CallFor(hover, "one").font.underline);
    EXPECT_EQ(CallFor(hover, "one").color, clBlue);
    EXPECT_EQ(CallFor(hover, "one").brush, clNone);
    EXPECT_TRUE(CallFor(hover, "two").font.underline);
    EXPECT_EQ(CallFor(hover, "two").color, clRed);
    EXPECT_EQ(CallFor(hover, "two").brush, clYellow);
    EXPECT_EQ(hover.Brush(), clNone);
}

TEST(HTMLLayout, HitTestFindsTheLinkUnderTheMouse)
{
    HTMLDrawParams params;
    params.text = R"(go <A href="http://x">here</A> now<BR><A href="second">two</A>)";
    params.rect = {10, 20, 400, 400};
    params.hitTestOnly = true;
    params.focusLink = 2;
    FakeCanvas canvas;
    params.mouseX = 10 + 20;
    params.mouseY = 20 + 6;
    HTMLDrawResult result = DrawHTMLText(canvas, params);
    EXPECT_TRUE(canvas.texts.empty()) << "hit-testing draws nothing";
    EXPECT_TRUE(result.hit);
    EXPECT_EQ(result.anchor, "http://x");
    EXPECT_EQ(result.anchorNumber, 1);
    EXPECT_EQ(result.anchorRect, (MarkupRect{25, 20, 45, 32}));
    EXPECT_EQ(result.focusAnchor, "second");
    EXPECT_EQ(result.linkCount, 2);

    params.mouseY = 20 + kLine + 6;
    params.mouseX = 12;
    result = DrawHTMLText(canvas, params);
    EXPECT_EQ(result.anchor, "second");
    EXPECT_EQ(result.anchorNumber, 2);

    for (const auto& [x, y] : {std::pair{11, 26}, std::pair{50, 26}, std::pair{30, 19}, std::pair{30, 500}}) {
        params.mouseX = x;
        params.mouseY = y;
        result = DrawHTMLText(canvas, params);
        EXPECT_FALSE(result.hit) << x << "," << y;
        EXPECT_EQ(result.anchorNumber, -1);
        EXPECT_EQ(result.anchor, "");
    }
}

TEST(HTMLLayout, Pictures)
{
    FakeCanvas canvas;
    canvas.AddPicture("pic", {30, 20});
    canvas.AddPicture("other", {4, 4});
    const HTMLDrawResult result =
        Draw(canvas, R"(a<IMG src="pic">b<IMG src="pic" width="10" height="8"><IMG src="missing">c)");
    ASSERT_EQ(canvas.images.size(), 2u);
    EXPECT_EQ(canvas.images[0].rect, (MarkupRect{5, 0, 35, 20}));
    EXPECT_FALSE(canvas.images[0].stretch);
    EXPECT_EQ(canvas.images[1].rect, (MarkupRect{40, 0, 50, 8}));
    EXPECT_TRUE(canvas.images[1].stretch);
    EXPECT_EQ(CallFor(canvas, "c").rect.left, 50) << "a missing picture is skipped";
    EXPECT_EQ(result.height, 20);

    FakeCanvas wrapped;
    wrapped.AddPicture("pic", {30, 20});
    Draw(wrapped, R"(aaaa <IMG src="pic">)", 40);
    ASSERT_EQ(wrapped.images.size(), 1u);
    EXPECT_EQ(wrapped.images[0].rect.top, kLine) << "a picture that does not fit starts the next line";

    HTMLDrawParams params;
    params.text = R"(<A href="pic link"><IMG src="pic" alt="other"></A>)";
    params.rect = {0, 0, 400, 400};
    params.mouseX = 25;
    params.mouseY = 18;
    FakeCanvas linked;
    linked.AddPicture("pic", {30, 20});
    linked.AddPicture("other", {4, 4});
    const HTMLDrawResult hit = DrawHTMLText(linked, params);
    EXPECT_TRUE(hit.hit);
    EXPECT_EQ(hit.anchor, "pic link");
    ASSERT_EQ(linked.images.size(), 1u);
    EXPECT_EQ(linked.images[0].source, "other") << "the alternative picture shows under the mouse";
}

TEST(HTMLLayout, LinesThatDoNotFitAreNotLaidOut)
{
    FakeCanvas canvas;
    Draw(canvas, "1<BR>2<BR>3", 400, 2 * kLine);
    EXPECT_EQ(Shown(canvas), "12");
    HTMLDrawParams params;
    params.text = "1<BR>2<BR>3";
    params.rect = {0, 0, 400, 2 * kLine};
    params.measureOnly = true;
    FakeCanvas measured;
    const HTMLDrawResult result = DrawHTMLText(measured, params);
    EXPECT_EQ(result.height, 3 * kLine);
    EXPECT_TRUE(measured.texts.empty());
}

TEST(HTMLLayout, DrawingOnlyTags)
{
    FakeCanvas canvas;
    Draw(canvas, R"(<BODY bgcolor="clRed">a<HR><E>bc</E><IND x="50">d<HI>e</HI><R a="90">f</R>g)", 200);
    ASSERT_FALSE(canvas.fills.empty());
    EXPECT_EQ(canvas.fills[0].rect, (MarkupRect{-2, 0, 200, 400}));
    EXPECT_EQ(canvas.fills[0].color, clRed);
    ASSERT_EQ(canvas.lines.size(), 2u);
    EXPECT_EQ(canvas.lines[0], (std::vector<int>{0, kLine + 1, 200, kLine + 1})) << "the rule under the line";
    const std::vector<int>& zigzag = canvas.lines[1];
    ASSERT_EQ(zigzag.size(), 12u);
    EXPECT_EQ(zigzag[0], 0);
    EXPECT_EQ(zigzag[1], 2 * kLine + 1);
    EXPECT_EQ(zigzag[3], 2 * kLine - 1);
    EXPECT_EQ(CallFor(canvas, "d").rect.left, 50);
    EXPECT_EQ(CallFor(canvas, "e").brush, clHighlight);
    EXPECT_EQ(CallFor(canvas, "e").color, clHighlightText);
    EXPECT_EQ(CallFor(canvas, "f").font.escapement, 900);
    EXPECT_EQ(CallFor(canvas, "g").font.escapement, 0);
    EXPECT_EQ(CallFor(canvas, "g").brush, clNone);
}

TEST(HTMLLayout, ShadowAndGradients)
{
    HTMLDrawParams params;
    params.text = R"(<SHAD>x</SHAD><BODY bgcolor="#000000" bgcolorto="#FF0000" dir="v">)";
    params.rect = {0, 0, 100, 128};
    params.shadowOffset = 2;
    params.shadowColor = clGray;
    FakeCanvas canvas;
    DrawHTMLText(canvas, params);
    ASSERT_EQ(canvas.texts.size(), 2u);
    EXPECT_EQ(canvas.texts[0].color, clGray);
    EXPECT_EQ(canvas.texts[0].rect.left, 2);
    EXPECT_EQ(canvas.texts[1].rect.left, 0);
    ASSERT_EQ(canvas.fills.size(), 64u);
    EXPECT_EQ(canvas.fills[0].rect, (MarkupRect{-2, 0, 100, 2}));
    EXPECT_EQ(canvas.fills[63].color, MakeColor(251, 0, 0)) << "band 63 of 64";
}

TEST(HTMLLayout, BadMarkupIsDrawnAsBestAsPossible)
{
    FakeCanvas canvas;
    const HTMLDrawResult huge =
        Draw(canvas, R"(<FONT size="99999999999999"><P indent="9999999999999999">x<IMG src="p" width="99999999")"
                     R"( height="99999999"><UL><UL><R a="9999999999">y)",
             400, 100000);
    EXPECT_EQ(CallFor(canvas, "x").font.size, kMaxMarkupNumber);
    EXPECT_EQ(CallFor(canvas, "x").rect.left, kMaxMarkupNumber);
    EXPECT_EQ(CallFor(canvas, "y").font.escapement, kMaxMarkupNumber * 10);
    EXPECT_GT(huge.height, 0);

    for (const char* text : {"<", "<A", "a<", "</", "<B", "text <unclosed tag", "</A>x</UL></P></FONT>",
                             "<A href=\"x\">unclosed link", "&amp", "&", "<IMG src=>", "<P align=\"\">",
                             "<LI><LI><LI>", "<U><U></U></U></U>"}) {
        FakeCanvas bad;
        const HTMLDrawResult result = Draw(bad, text, 1, 1);
        EXPECT_GE(result.height, 0) << text;
    }
    FakeCanvas unclosed;
    Draw(unclosed, "before <FONT face=\"x\" the rest is swallowed");
    EXPECT_EQ(Shown(unclosed), "before ");
}

TEST(HTMLLayout, EllipsisKeepsOneLine)
{
    HTMLDrawParams params;
    params.text = "aaaa bbbb cccc dddd";
    params.rect = {0, 0, 40, 400};
    params.ellipsis = true;
    FakeCanvas canvas;
    const HTMLDrawResult result = DrawHTMLText(canvas, params);
    ASSERT_EQ(canvas.texts.size(), 1u) << "no word wrap: one run up to the next tag";
    EXPECT_EQ(canvas.texts[0].rect.right, 40) << "cut at the right edge";
    EXPECT_EQ(result.height, kLine);
}

TEST(HTMLLayout, TextGluedToAClosingTagGoesDownWithItsWord)
{
    // "bbbbb" ends at 45; the glued ". " would end at 55, past the edge.
    for (const char* text : {"aaa <B>bbbbb</B>. c", "aaa <A href=\"x\">bbbbb</A>. c"}) {
        FakeCanvas canvas;
        Draw(canvas, text, 50);
        EXPECT_EQ(Lines(canvas), (std::vector<std::string>{"aaa ", "bbbbb. c"})) << text;
        EXPECT_LE(Rightmost(canvas), 50) << text;
        EXPECT_TRUE(CallFor(canvas, "bbbbb").font.bold || CallFor(canvas, "bbbbb").font.underline)
            << "the word keeps its formatting on the next line";
    }

    HTMLDrawParams params;
    params.text = "aaa <A href=\"x\">bbbbb</A>. c";
    params.rect = {0, 0, 50, 400};
    params.hitTestOnly = true;
    params.mouseX = 3;
    params.mouseY = kLine + 6;
    FakeCanvas hit;
    const HTMLDrawResult result = DrawHTMLText(hit, params);
    EXPECT_TRUE(result.hit) << "the link is found where it is drawn";
    EXPECT_EQ(result.anchorRect, (MarkupRect{0, kLine, 25, 2 * kLine}));

    FakeCanvas overlong;
    Draw(overlong, "aaaa<B>bbbbbbbb</B>", 50);
    EXPECT_EQ(Lines(overlong), (std::vector<std::string>{"aaaabbbbbb", "bb"}))
        << "a glued word wider than the line is broken at the edge";

    FakeCanvas larger;
    Draw(larger, "aaa <FONT size=\"20\">bb<B>bbbbb. c", 100);
    EXPECT_EQ(CallFor(larger, "aaa ").rect, (MarkupRect{0, 0, 20, kLine})) << "the line before the word keeps its font";
    EXPECT_EQ(CallFor(larger, "bb").rect, (MarkupRect{0, kLine, 20, kLine + 22}));

    FakeCanvas chain;
    Draw(chain, "x <I>a</I><B>b</B><U>ccccccccc</U>", 50);
    EXPECT_EQ(Lines(chain), (std::vector<std::string>{"x ", "abcccccccc", "c"}))
        << "a word of several glued runs goes down whole, and is broken there when wider than the line";
}

TEST(HTMLLayout, AttributeValuesDecodeTheirEntitiesOnce)
{
    HTMLDrawParams params;
    params.text = R"(<A href="http://x/?a=1&amp;b=2&amp;amp;c=&#51;&quot;">a&amp;b</A>)";
    params.rect = {0, 0, 400, 400};
    params.hitTestOnly = true;
    params.mouseX = 3;
    params.mouseY = 6;
    params.focusLink = 1;
    FakeCanvas canvas;
    const HTMLDrawResult result = DrawHTMLText(canvas, params);
    ASSERT_TRUE(result.hit);
    EXPECT_EQ(result.anchor, "http://x/?a=1&b=2&amp;c=3\"");
    EXPECT_EQ(result.focusAnchor, result.anchor);

    FakeCanvas drawn;
    drawn.AddPicture("p&q", {30, 20});
    Draw(drawn, R"(a&amp;b<IMG src="p&amp;q">)");
    EXPECT_EQ(Shown(drawn), "a&b") << "text keeps its own entity rules";
    ASSERT_EQ(drawn.images.size(), 1u);
    EXPECT_EQ(drawn.images[0].source, "p&q");
}

TEST(HTMLLayout, ABareAmpersandShows)
{
    FakeCanvas canvas;
    Draw(canvas, "R&D, Q&A & more &unknown; &#38;");
    EXPECT_EQ(Shown(canvas), "R&D, Q&A & more &unknown; &") << "no letter is lost or underlined";
    FakeCanvas entities;
    Draw(entities, "a &amp; b &lt;&nbsp;&amp;lt;");
    EXPECT_EQ(Shown(entities), "a & b < &<") << "entities as before";
}

TEST(HTMLLayout, ALinkIsFoundOverItsWholeHeight)
{
    // A 20-point link on a 10-point line: 22 pixels high, the base "gh" 12.
    HTMLDrawParams params;
    params.text = R"(ab <FONT size="20"><A href="big">big</A></FONT> <A href="small">small</A>)";
    params.rect = {0, 0, 400, 400};
    params.hitTestOnly = true;
    FakeCanvas canvas;
    params.mouseX = 3 * kChar + 5;
    for (const int y : {0, 5, 10, 21}) {
        params.mouseY = y;
        const HTMLDrawResult result = DrawHTMLText(canvas, params);
        EXPECT_TRUE(result.hit) << y;
        EXPECT_EQ(result.anchor, "big") << y;
        EXPECT_EQ(result.anchorRect, (MarkupRect{15, 0, 45, 22})) << y;
    }
    params.mouseY = 22;
    EXPECT_FALSE(DrawHTMLText(canvas, params).hit) << "below the line";

    // "small" is 10 points: its text covers the bottom 12 pixels of the line.
    params.mouseX = 46 + 5 + 3;
    params.mouseY = 22 - kLine;
    EXPECT_EQ(DrawHTMLText(canvas, params).anchor, "small");
    params.mouseY = 22 - kLine - 1;
    EXPECT_FALSE(DrawHTMLText(canvas, params).hit) << "above the small link's text";
}
