#include "core/StrCon.h"
#include "FuzzRequire.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

bool MatchesAt(std::string_view sub, std::string_view text, int pos, bool ignoreCase)
{
    if (pos < 1 || static_cast<size_t>(pos) - 1 + sub.size() > text.size())
        return false;
    const std::string_view there = text.substr(static_cast<size_t>(pos) - 1, sub.size());
    return ignoreCase ? SameText(there, sub) : there == sub;
}

std::string SlowRemoveAll(std::string_view sub, std::string text)
{
    for (size_t at; !sub.empty() && (at = text.find(sub)) != std::string::npos;)
        text.erase(at, sub.size());
    return text;
}

void CheckSearch(std::string_view sub, std::string_view text, int start, bool ignoreCase)
{
    const int pos = PosFrom(sub, text, ignoreCase, start);
    Require(pos == 0 || (MatchesAt(sub, text, pos, ignoreCase) && pos >= start), "PosFrom position");
    if (!ignoreCase && start <= 1)
        Require(pos == (sub.empty() ? 0 : static_cast<int>(text.find(sub) + 1)), "PosFrom first match");
    const int last = LastPos(sub, text, ignoreCase);
    Require(last == 0 || (MatchesAt(sub, text, last, ignoreCase) && last >= PosFrom(sub, text, ignoreCase)),
            "LastPos position");

    const std::string before = TextBefore(sub, text, start);
    const std::string after = TextAfter(sub, text, start);
    if (const int found = PosFrom(sub, text, false, start); found != 0)
        Require(before + std::string(sub) + after == text, "TextBefore/TextAfter split");
    else
        Require(before == text && after.empty(), "TextBefore/TextAfter without match");
    Require(text.starts_with(TextBeforeNth(sub, text, start)), "TextBeforeNth prefix");
    Require(text.ends_with(TextAfterLast(sub, text)), "TextAfterLast suffix");
}

void CheckTrims(std::string_view text, char c)
{
    const std::string collapsed = TrimCollapse(text, c);
    Require(TrimCollapse(collapsed, c) == collapsed, "TrimCollapse idempotent");
    Require(collapsed.find(std::string(2, c)) == std::string::npos, "TrimCollapse runs");
    Require(collapsed.empty() || (collapsed.front() != c && collapsed.back() != c), "TrimCollapse ends");
    if (c != '\0') {
        Require(SameTextCollapsed(text, collapsed, c), "SameTextCollapsed");
        Require(StartsWith(std::string_view(collapsed).substr(0, collapsed.size() / 2), text, c), "StartsWith");
    }

    const std::string trimmed = TrimUpTo(text, c);
    const auto limit = static_cast<unsigned char>(c);
    Require(text.find(trimmed) != std::string_view::npos, "TrimUpTo substring");
    Require(trimmed.empty() || (static_cast<unsigned char>(trimmed.front()) > limit &&
                                static_cast<unsigned char>(trimmed.back()) > limit),
            "TrimUpTo ends");
    Require(TrimUpTo(trimmed, c) == trimmed, "TrimUpTo idempotent");
}

void CheckSets(std::string_view chars, std::string_view text, char c)
{
    const CharSet set = MakeCharSet(chars);
    const std::string removed = RemoveChars(text, set);
    Require(CountOf(removed, set) == 0, "RemoveChars leaves none");
    Require(removed.size() + static_cast<size_t>(CountOf(text, set)) == text.size(), "RemoveChars size");
    Require(ReplaceChars(text, set, c).size() == text.size(), "ReplaceChars size");
    Require(!HasChar(c, RemoveChar(text, c)), "RemoveChar leaves none");
    Require(TextBeforeAnyOf(set, text).size() + TextAfterAnyOf(set, text).size() + (CountOf(text, set) ? 1 : 0) ==
                text.size(),
            "AnyOf split");
    Require(CountOf(TextAfterLastOf(set, text), set) == 0, "TextAfterLastOf");
    Require(DropFirstIn(set, text).size() + 1 >= text.size(), "DropFirstIn");
    Require(DropLastIn(set, text).size() + 1 >= text.size(), "DropLastIn");
    const std::string slashed = AddBackslash(text);
    Require(text.empty() || (slashed.back() == '\\' && RemoveBackslash(slashed).size() + 1 >= slashed.size()),
            "Backslashes");
}

void CheckReplace(std::string_view oldText, std::string_view newText, std::string_view text)
{
    Require(ReplaceAll(oldText, oldText, text) == text, "ReplaceAll by itself");
    Require(SameText(ReplaceText(oldText, oldText, text, false), text), "ReplaceText by itself");
    size_t matches = 0;
    for (size_t at = text.find(oldText); !oldText.empty() && at != std::string_view::npos;
         at = text.find(oldText, at + oldText.size()))
        ++matches;
    const size_t expected = text.size() + matches * newText.size() - matches * oldText.size();
    Require(ReplaceAll(oldText, newText, text).size() == expected, "ReplaceAll size");
    const std::string rest = RemoveAll(oldText, text);
    Require(oldText.empty() || rest.find(oldText) == std::string::npos, "RemoveAll leaves none");
    if (text.size() <= 256)
        Require(rest == SlowRemoveAll(oldText, std::string(text)), "RemoveAll order");
    Require(RemovePrefix(oldText, text).size() + (text.starts_with(oldText) ? oldText.size() : 0) == text.size(),
            "RemovePrefix");
}

// The walk steps spelled out with the other operations, to compare against.
void PlainNextToken(std::string_view separator, std::string& text, std::string& token)
{
    std::string kept = text;
    if ((TrimCollapse(text, ' ').starts_with(separator) || text.starts_with(separator)) && PosFrom(separator, text))
        kept = TextAfter(separator, text);
    token = TextBefore(separator, kept);
    text = RemovePrefix(token, kept);
}

void PlainNextTokenAnyOf(const CharSet& set, std::string& text, std::string& token)
{
    const std::string trimmed = TrimCollapse(text, ' ');
    std::string kept = text;
    if (((!trimmed.empty() && InSet(set, trimmed[0])) || (!text.empty() && InSet(set, text[0]))) && CountOf(text, set))
        kept = TextAfterAnyOf(set, text);
    token = TextBeforeAnyOf(set, kept);
    text = RemovePrefix(token, kept);
}

template <class Step, class PlainStep>
void CheckWalk(std::string text, Step step, PlainStep plainStep)
{
    const size_t limit = text.size() + 2;
    const bool compare = text.size() <= 512;  // the plain steps are quadratic
    std::string token;
    std::string plainText = text;
    std::string plainToken;
    size_t calls = 0;
    while (!text.empty()) {
        Require(++calls <= limit, "token walk ends");
        step(text, token);
        if (!compare)
            continue;
        plainStep(plainText, plainToken);
        Require(text == plainText && token == plainToken, "token walk follows its steps");
    }
    step(text, token);
    Require(token.empty() && text.empty(), "walk stays at the end");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider input(data, size);
    const char c = input.ConsumeIntegral<char>();
    const int start = input.ConsumeIntegralInRange<int>(-2, 64);
    const bool ignoreCase = input.ConsumeBool();
    const std::string sub = input.ConsumeRandomLengthString(16);
    const std::string other = input.ConsumeRandomLengthString(16);
    const std::string text = input.ConsumeRemainingBytesAsString();

    CheckSearch(sub, text, start, ignoreCase);
    CheckTrims(text, c);
    CheckSets(sub, text, c);
    CheckReplace(sub, other, text);
    for (const std::string& separator : {sub, std::string(1, c)}) {
        CheckWalk(
            text, [&separator](std::string& t, std::string& token) { NextToken(separator, t, token); },
            [&separator](std::string& t, std::string& token) { PlainNextToken(separator, t, token); });
        const CharSet set = MakeCharSet(separator);
        CheckWalk(
            text, [&set](std::string& t, std::string& token) { NextTokenAnyOf(set, t, token); },
            [&set](std::string& t, std::string& token) { PlainNextTokenAnyOf(set, t, token); });
    }
    return 0;
}
