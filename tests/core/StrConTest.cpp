#include "core/StrCon.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Walks the whole list and fails rather than hangs when a call stops moving.
std::vector<std::string> Walk(std::string_view separator, std::string text)
{
    std::vector<std::string> tokens;
    const size_t limit = text.size() + 2;
    std::string token;
    while (!text.empty() && tokens.size() < limit) {
        NextToken(separator, text, token);
        tokens.push_back(token);
    }
    EXPECT_TRUE(text.empty()) << "walk stalled";
    return tokens;
}

std::vector<std::string> WalkAnyOf(std::string_view separators, std::string text)
{
    std::vector<std::string> tokens;
    const size_t limit = text.size() + 2;
    const CharSet set = MakeCharSet(separators);
    std::string token;
    while (!text.empty() && tokens.size() < limit) {
        NextTokenAnyOf(set, text, token);
        tokens.push_back(token);
    }
    EXPECT_TRUE(text.empty()) << "walk stalled";
    return tokens;
}

using Tokens = std::vector<std::string>;

const std::string kStartUp = "C:\\Documents\\Start Menu\\Programs\\StartUp";

}  // namespace

TEST(StrConTest, PosFromCountsFromStartButReportsWholeTextPositions)
{
    EXPECT_EQ(PosFrom("b", "abcb", false, 3), 4);
    EXPECT_EQ(PosFrom("B", "abcb", true, 3), 4);
    EXPECT_EQ(PosFrom("B", "abcb", false, 3), 0);
    EXPECT_EQ(PosFrom("b", "abcb"), 2);
    EXPECT_EQ(PosFrom("b", "abcb", false, 1), 2);
    EXPECT_EQ(PosFrom("b", "abcb", false, -7), 2);
    EXPECT_EQ(PosFrom("b", "abcb", false, 5), 0);
    EXPECT_EQ(PosFrom("b", "abcb", false, 1000), 0);
    EXPECT_EQ(PosFrom("cb", "abcb", false, 3), 3);
    EXPECT_EQ(PosFrom("abcbx", "abcb"), 0);
    EXPECT_EQ(PosFrom("", "abcb"), 0);
    EXPECT_EQ(PosFrom("a", ""), 0);
    EXPECT_EQ(PosFrom("", "", true, 1), 0);
}

TEST(StrConTest, LastPosFindsLastWholeOccurrence)
{
    EXPECT_EQ(LastPos("\\", kStartUp), static_cast<int>(kStartUp.rfind('\\')) + 1);
    EXPECT_EQ(LastPos("aa", "aaa"), 2);
    EXPECT_EQ(LastPos("AA", "xaax", true), 2);
    EXPECT_EQ(LastPos("AA", "xaax"), 0);
    EXPECT_EQ(LastPos("", "abc"), 0);
    EXPECT_EQ(LastPos("abcd", "abc"), 0);
    EXPECT_EQ(LastPos("x", ""), 0);
}

TEST(StrConTest, CaseFoldingTouchesAsciiLettersOnly)
{
    EXPECT_EQ(UpperChar('a'), 'A');
    EXPECT_EQ(UpperChar('{'), '{');
    EXPECT_EQ(UpperChar('\xE4'), '\xE4');
    EXPECT_EQ(UpperChar('\xFF'), '\xFF');
    EXPECT_EQ(UpperText("a\xE9z1"), "A\xE9Z1");
    EXPECT_TRUE(SameText("Program Files", "PROGRAM files"));
    EXPECT_FALSE(SameText("abc", "abcd"));
    EXPECT_FALSE(SameText("\xE4", "\xC4"));
    EXPECT_TRUE(SameText("", ""));
    EXPECT_EQ(PosFrom("\xC4", "a\xE4\xC4", true), 3);
}

TEST(StrConTest, CutsAroundFirstAndLastOccurrence)
{
    EXPECT_EQ(TextBefore("=", "key=value=x"), "key");
    EXPECT_EQ(TextAfter("=", "key=value=x"), "value=x");
    EXPECT_EQ(TextBefore("=", "key=value=x", 5), "key=value");
    EXPECT_EQ(TextAfter("=", "key=value=x", 5), "x");
    EXPECT_EQ(TextBefore("=", "no separator"), "no separator");
    EXPECT_EQ(TextAfter("=", "no separator"), "");
    EXPECT_EQ(TextBefore("=", "a=b", 99), "a=b");
    EXPECT_EQ(TextAfter("=", "a=b", 99), "");
    EXPECT_EQ(TextAfter("A", "xa"), "");
    EXPECT_EQ(TextAfterLast("\\", kStartUp), "StartUp");
    EXPECT_EQ(TextAfterLast("\\", "C:\\x\\"), "");
    EXPECT_EQ(TextAfterLast("\\", "plain"), "");
    EXPECT_EQ(TextAfterLast("", "plain"), "");
    EXPECT_EQ(TextBefore("", "plain"), "plain");
    EXPECT_EQ(TextAfter("", "plain"), "");
}

TEST(StrConTest, TextBeforeNthCountsOverlappingOccurrences)
{
    EXPECT_EQ(TextBeforeNth(" ", "one two three", 3), "one two three");
    EXPECT_EQ(TextBeforeNth(" ", "one two three", 2), "one two");
    EXPECT_EQ(TextBeforeNth(" ", "one two three", 1), "one");
    EXPECT_EQ(TextBeforeNth(" ", "one two three", -5), "one");
    EXPECT_EQ(TextBeforeNth("aa", "xaaaa", 2), "xa");
    EXPECT_EQ(TextBeforeNth("aa", "xaaaa", 3), "xaa");
    EXPECT_EQ(TextBeforeNth("aa", "xaaaa", 4), "xaaaa");
    EXPECT_EQ(TextBeforeNth(" ", "", 2), "");
}

TEST(StrConTest, TrimCollapseAndTrimUpTo)
{
    EXPECT_EQ(TrimCollapse("\\\\Word\\\\\\Other\\", '\\'), "Word\\Other");
    EXPECT_EQ(TrimCollapse("\\\\\\", '\\'), "");
    EXPECT_EQ(TrimCollapse("", '\\'), "");
    EXPECT_EQ(TrimCollapse("  a  b c ", ' '), "a b c");
    EXPECT_EQ(TrimCollapse("\xFF\xFF" "a\xFF\xFF" "b\xFF", '\xFF'), "a\xFF" "b");

    EXPECT_EQ(TrimUpTo("  \"C:\\Program Files\\app.exe\"  ", '"'), "C:\\Program Files\\app.exe");
    EXPECT_EQ(TrimUpTo("!\"x!y\"!", '"'), "x!y");
    EXPECT_EQ(TrimUpTo("\t a b \r\n", ' '), "a b");
    EXPECT_EQ(TrimUpTo(" \xA0\xE9 ", ' '), "\xA0\xE9");
    EXPECT_EQ(TrimUpTo("   ", ' '), "");
    EXPECT_EQ(TrimUpTo("", ' '), "");
    EXPECT_EQ(TrimUpTo("ab\xFF", '\xFF'), "");
    EXPECT_EQ(TrimUpTo(std::string("\0a\0", 3), '\0'), "a");
}

TEST(StrConTest, CollapsedComparisonsAndPrefixes)
{
    EXPECT_TRUE(SameTextCollapsed("\\Run\\\\Item\\", "run\\item", '\\'));
    EXPECT_FALSE(SameTextCollapsed("\\Run\\\\Item\\", "run\\item", '\0'));
    EXPECT_TRUE(SameTextCollapsed("ABC", "abc", '\0'));
    EXPECT_FALSE(SameTextCollapsed("a\\b", "ab", '\\'));

    EXPECT_TRUE(StartsWith("C:\\Win", "C:\\Windows"));
    EXPECT_FALSE(StartsWith("c:\\win", "C:\\Windows"));
    EXPECT_FALSE(StartsWith("C:\\Windows\\", "C:\\Windows"));
    EXPECT_TRUE(StartsWith("\\a\\\\b", "a\\b\\\\c", '\\'));
    EXPECT_FALSE(StartsWith("\\a\\\\b", "a\\b\\\\c"));
    EXPECT_TRUE(StartsWith("", "anything"));
    EXPECT_FALSE(StartsWith("x", ""));

    EXPECT_EQ(RemovePrefix("C:\\", "C:\\dir"), "dir");
    EXPECT_EQ(RemovePrefix("c:\\", "C:\\dir"), "C:\\dir");
    EXPECT_EQ(RemovePrefix("longer than text", "text"), "text");
    EXPECT_EQ(RemovePrefix("", "text"), "text");
}

TEST(StrConTest, CharacterSetsTreatHighBytesAsOrdinaryCharacters)
{
    const CharSet set = MakeCharSet("\\/\xE9\xFF");
    EXPECT_TRUE(InSet(set, '\xE9'));
    EXPECT_TRUE(InSet(set, '\xFF'));
    EXPECT_FALSE(InSet(set, '\x7F'));
    EXPECT_FALSE(InSet(set, '\0'));
    EXPECT_EQ(MakeCharSet("").count(), 0u);

    const std::string text = "a\\b/c\xE9\xFF\xFE";
    EXPECT_EQ(CountOf(text, set), 4);
    EXPECT_EQ(RemoveChars(text, set), "abc\xFE");
    EXPECT_EQ(ReplaceChars(text, set, '_'), "a_b_c__\xFE");
    EXPECT_EQ(RemoveChar(text, '\xE9'), "a\\b/c\xFF\xFE");
    EXPECT_TRUE(HasChar('\xFE', text));
    EXPECT_FALSE(HasChar('x', text));
    EXPECT_FALSE(HasChar('x', ""));
    EXPECT_EQ(CountOf("", set), 0);

    EXPECT_EQ(TextBeforeAnyOf(set, text), "a");
    EXPECT_EQ(TextAfterAnyOf(set, text), "b/c\xE9\xFF\xFE");
    EXPECT_EQ(TextAfterLastOf(set, text), "\xFE");
    EXPECT_EQ(TextBeforeAnyOf(set, "none"), "none");
    EXPECT_EQ(TextAfterAnyOf(set, "none"), "");
    EXPECT_EQ(TextAfterLastOf(set, "none"), "");
    EXPECT_EQ(TextAfterLastOf(set, "end\\"), "");

    EXPECT_EQ(DropLastIn(set, "dir\\"), "dir");
    EXPECT_EQ(DropLastIn(set, "dir\\\\"), "dir\\");
    EXPECT_EQ(DropFirstIn(set, "\xFF" "x"), "x");
    EXPECT_EQ(DropFirstIn(set, "x\\"), "x\\");
    EXPECT_EQ(DropLastIn(set, ""), "");
    EXPECT_EQ(DropFirstIn(set, ""), "");
    EXPECT_EQ(FirstChar(""), '\0');
    EXPECT_EQ(FirstChar("\xE9x"), '\xE9');
}

TEST(StrConTest, ReplaceTextNeverRescansReplacements)
{
    EXPECT_EQ(ReplaceAll("\\\\", "\\", "\\\\\\\\"), "\\\\");
    EXPECT_EQ(ReplaceAll("a", "aa", "aXa"), "aaXaa");
    EXPECT_EQ(ReplaceAll("ab", "b", "aabb"), "abb");
    EXPECT_EQ(ReplaceAll("x", "", "xaxbx"), "ab");
    EXPECT_EQ(ReplaceAll("", "y", "text"), "text");
    EXPECT_EQ(ReplaceAll("a", "b", ""), "");
    EXPECT_EQ(ReplaceAll("aa", "b", "aaa"), "ba");

    EXPECT_EQ(ReplaceText("abc", "-", "MiXeD abc ABC aBc", false), "MiXeD - - -");
    EXPECT_EQ(ReplaceText("abc", "-", "MiXeD abc ABC aBc", true), "MiXeD - ABC aBc");
    EXPECT_EQ(ReplaceText("%DIR%", "C:\\Dir", "%dir%\\app.exe", false), "C:\\Dir\\app.exe");
    EXPECT_EQ(ReplaceText("\xE9", "e", "\xC9\xE9", false), "\xC9" "e");
}

TEST(StrConTest, ReplaceTextKeepsLongTextsWhole)
{
    std::string text = "head;" + std::string(70000, 'x') + ";tail";
    const std::string result = ReplaceAll(";", "|", text);
    EXPECT_EQ(result.size(), text.size());
    EXPECT_EQ(result.substr(0, 5), "head|");
    EXPECT_EQ(result.substr(result.size() - 5), "|tail");
}

TEST(StrConTest, RemoveAllRemovesOccurrencesThatRemovalsBringTogether)
{
    EXPECT_EQ(RemoveAll("ab", "aabb"), "");
    EXPECT_EQ(RemoveAll("ab", "aaabbbx"), "x");
    EXPECT_EQ(RemoveAll("ab", "ba"), "ba");
    EXPECT_EQ(RemoveAll("\\\\", "\\\\\\"), "\\");
    EXPECT_EQ(RemoveAll("aba", "ababa"), "ba");
    EXPECT_EQ(RemoveAll("", "text"), "text");
    EXPECT_EQ(RemoveAll("x", ""), "");
    EXPECT_EQ(RemoveAll("\xFF\x80", "\xFF\xFF\x80\x80!"), "!");
}

TEST(StrConTest, Backslashes)
{
    EXPECT_EQ(AddBackslash(""), "");
    EXPECT_EQ(AddBackslash("C:"), "C:\\");
    EXPECT_EQ(AddBackslash("C:\\"), "C:\\");
    EXPECT_EQ(RemoveBackslash("C:\\dir\\\\"), "C:\\dir\\");
    EXPECT_EQ(RemoveBackslash("\\"), "");
    EXPECT_EQ(RemoveBackslash(""), "");
}

TEST(StrConTest, NextTokenWalksSeparatedLists)
{
    EXPECT_EQ(Walk(";", "C:\\Windows;C:\\Windows\\System"), (Tokens{"C:\\Windows", "C:\\Windows\\System"}));
    EXPECT_EQ(Walk(";", "C:\\a;;C:\\b;"), (Tokens{"C:\\a", "", "C:\\b", ""}));
    EXPECT_EQ(Walk(";", ";a"), (Tokens{"a"}));
    EXPECT_EQ(Walk(";", "  ; a"), (Tokens{" a"}));
    EXPECT_EQ(Walk(";", "no separator"), (Tokens{"no separator"}));
    EXPECT_EQ(Walk(", ", "a, b, c"), (Tokens{"a", "b", "c"}));
    EXPECT_EQ(Walk("", "abc"), (Tokens{"abc"}));

    std::string text = "a;b";
    std::string token = "stale";
    NextToken(";", text, token);
    EXPECT_EQ(token, "a");
    EXPECT_EQ(text, ";b");
    NextToken(";", text, token);
    NextToken(";", text, token);
    EXPECT_EQ(token, "");
    EXPECT_EQ(text, "");
}

TEST(StrConTest, NextTokenMovesOnWhenSeparatorHoldsSpaces)
{
    EXPECT_EQ(Walk(" ", "a b  c"), (Tokens{"a", "b", "", "c"}));
    EXPECT_EQ(Walk(" ", " "), (Tokens{""}));
    EXPECT_EQ(Walk("; ", "a; "), (Tokens{"a", ""}));
    EXPECT_EQ(Walk(";  ", "a;  b"), (Tokens{"a", "b"}));
    EXPECT_EQ(Walk("a b", "a  bx"), (Tokens{"a  bx"}));
}

TEST(StrConTest, NextTokenAnyOfSplitsOnEveryCharacterOfTheSet)
{
    EXPECT_EQ(WalkAnyOf(";,", "a;b,c"), (Tokens{"a", "b", "c"}));
    EXPECT_EQ(WalkAnyOf(";,", " ,a"), (Tokens{"a"}));
    EXPECT_EQ(WalkAnyOf(" \t", "a \tb"), (Tokens{"a", "", "b"}));
    EXPECT_EQ(WalkAnyOf("\xFF", "x\xFFy"), (Tokens{"x", "y"}));
    EXPECT_EQ(WalkAnyOf("", "abc"), (Tokens{"abc"}));
    EXPECT_EQ(WalkAnyOf(std::string(1, '\0'), "  "), (Tokens{"  "}));
}

TEST(StrCon, FolderOfPathKeepsItsSeparator)
{
    EXPECT_EQ(FolderOfPath("C:\\Tools\\run.exe"), "C:\\Tools\\");
    EXPECT_EQ(FolderOfPath("C:run.exe"), "C:");
    EXPECT_EQ(FolderOfPath("C:\\"), "C:\\");
    EXPECT_EQ(FolderOfPath("run.exe"), "");
    EXPECT_EQ(RemoveBackslash(FolderOfPath("C:\\Start Menu\\Keldora\\a.lnk")), "C:\\Start Menu\\Keldora");
}
