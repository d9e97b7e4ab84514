#include "LineBreak.h"

#include "core/Utf8.h"
#include "markup/MarkupText.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iterator>

namespace {

struct Range {
    char32_t first;
    char32_t last;
};

// Sorted, not overlapping.
constexpr Range kIdeographic[] = {
    {0x1100, 0x11FF},   // Hangul jamo
    {0x2E80, 0x2FFF},   // CJK radicals, Kangxi radicals, description characters
    {0x3000, 0x4DBF},   // CJK symbols and punctuation, kana, bopomofo, compatibility jamo, enclosed, extension A
    {0x4E00, 0x9FFF},   // CJK unified ideographs
    {0xA000, 0xA4CF},   // Yi
    {0xA960, 0xA97F},   // Hangul jamo extended A
    {0xAC00, 0xD7FF},   // Hangul syllables, jamo extended B
    {0xF900, 0xFAFF},   // CJK compatibility ideographs
    {0xFE30, 0xFE4F},   // CJK compatibility forms
    {0xFF00, 0xFFEF},   // full-width forms, half-width kana and hangul
    {0x1B000, 0x1B16F}, // kana supplement and extensions
    {0x1F200, 0x1F2FF}, // enclosed ideographic supplement
    {0x20000, 0x3FFFF}, // CJK extensions B and later, compatibility supplement
};

// The common combining marks, joiners and variation selectors: they belong
// to the character before them.
constexpr Range kCombining[] = {
    {0x0300, 0x036F},   {0x0483, 0x0489},   {0x0591, 0x05BD}, {0x05BF, 0x05BF}, {0x05C1, 0x05C2},
    {0x05C4, 0x05C5},   {0x05C7, 0x05C7},   {0x0610, 0x061A}, {0x064B, 0x065F}, {0x0670, 0x0670},
    {0x06D6, 0x06DC},   {0x06DF, 0x06E4},   {0x06E7, 0x06E8}, {0x06EA, 0x06ED}, {0x0900, 0x0903},
    {0x093A, 0x094F},   {0x0951, 0x0957},   {0x0962, 0x0963}, {0x0E31, 0x0E31}, {0x0E34, 0x0E3A},
    {0x0E47, 0x0E4E},   {0x1AB0, 0x1AFF},   {0x1DC0, 0x1DFF}, {0x200C, 0x200D}, {0x20D0, 0x20FF},
    {0x302A, 0x302F},   {0x3099, 0x309A},   {0xFE00, 0xFE0F}, {0xFE20, 0xFE2F}, {0x1F3FB, 0x1F3FF},
    {0xE0100, 0xE01EF},
};

// No line starts with these: closing punctuation, small kana, iteration and
// prolonged-sound marks, and the blank (the layout breaks after it).
constexpr char32_t kClosing[] = {
    0x20,   0x21,   0x25,   0x29,   0x2C,   0x2E,   0x3A,   0x3B,   0x3F,   0x5D,   0x7D,   0xBB,
    0x2019, 0x201D, 0x2025, 0x2026, 0x3001, 0x3002, 0x3005, 0x3009, 0x300B, 0x300D, 0x300F, 0x3011,
    0x3015, 0x3017, 0x3019, 0x301B, 0x301E, 0x301F, 0x3041, 0x3043, 0x3045, 0x3047, 0x3049, 0x3063,
    0x3083, 0x3085, 0x3087, 0x308E, 0x3095, 0x3096, 0x309D, 0x309E, 0x30A1, 0x30A3, 0x30A5, 0x30A7,
    0x30A9, 0x30C3, 0x30E3, 0x30E5, 0x30E7, 0x30EE, 0x30F5, 0x30F6, 0x30FB, 0x30FC, 0x30FD, 0x30FE,
    0xFF01, 0xFF05, 0xFF09, 0xFF0C, 0xFF0E, 0xFF1A, 0xFF1B, 0xFF1F, 0xFF3D, 0xFF5D, 0xFF60, 0xFF61,
    0xFF63, 0xFF64, 0xFF65,
};

// No line ends with these: opening punctuation, and the "&" that underlines
// the character after it.
constexpr char32_t kOpening[] = {
    0x26,   0x28,   0x5B,   0x7B,   0xAB,   0x2018, 0x201C, 0x3008, 0x300A, 0x300C, 0x300E,
    0x3010, 0x3014, 0x3016, 0x3018, 0x301A, 0x301D, 0xFF08, 0xFF3B, 0xFF5B, 0xFF5F, 0xFF62,
};

static_assert(std::is_sorted(std::begin(kClosing), std::end(kClosing)));
static_assert(std::is_sorted(std::begin(kOpening), std::end(kOpening)));

constexpr char32_t kZeroWidthJoiner = 0x200D;
constexpr char32_t kReplacement = 0xFFFD;
// UTF-8 lead bytes from here on start the three- and four-byte sequences
// of every ideograph (the first is U+1100).
constexpr unsigned char kFirstIdeographLead = 0xE1;

template <std::size_t N>
bool InRanges(char32_t code, const Range (&ranges)[N])
{
    const auto* range = std::upper_bound(std::begin(ranges), std::end(ranges), code,
                                         [](char32_t value, const Range& r) { return value < r.first; });
    return range != std::begin(ranges) && code <= std::prev(range)->last;
}

template <std::size_t N>
bool InList(char32_t code, const char32_t (&list)[N])
{
    return std::binary_search(std::begin(list), std::end(list), code);
}

bool IsCombining(char32_t code)
{
    return code >= 0x300 && InRanges(code, kCombining);
}

bool IsSmallKatakanaExtension(char32_t code)
{
    return code >= 0x31F0 && code <= 0x31FF;
}

char32_t CodeAt(std::string_view text, std::size_t at)
{
    const Utf8Char c = DecodeUtf8At(text, at);
    return c.valid ? c.code : kReplacement;
}

} // namespace

bool IsIdeographic(char32_t code)
{
    return code >= 0x1100 && InRanges(code, kIdeographic);
}

bool BreaksBetween(char32_t before, char32_t after)
{
    if (IsCombining(after) || InList(after, kClosing) || IsSmallKatakanaExtension(after) ||
        InList(before, kOpening))
        return false;
    return IsIdeographic(before) || IsIdeographic(after);
}

char32_t CharacterBefore(std::string_view text, std::size_t end)
{
    for (std::size_t back = 1; back <= 4 && back <= end; ++back) {
        if ((static_cast<unsigned char>(text[end - back]) & 0xC0) == 0x80)
            continue;
        const Utf8Char c = DecodeUtf8At(text, end - back);
        return c.valid && c.length == back ? c.code : kReplacement;
    }
    return kReplacement;
}

std::size_t NextCharacter(std::string_view run, std::size_t at)
{
    if (run[at] == '&') {
        const bool escaped = at + 1 < run.size() && run[at + 1] == '&';
        const std::size_t from = escaped ? at + 1 : at;
        if (const std::size_t entity = RunEntityLength(run, from))
            return from + entity;
        if (escaped)
            return at + 2;
        return at + 1 < run.size() ? NextCharacter(run, at + 1) : at + 1;
    }
    const Utf8Char first = DecodeUtf8At(run, at);
    std::size_t end = at + first.length;
    bool joined = first.valid && first.code == kZeroWidthJoiner;
    while (end < run.size()) {
        const Utf8Char next = DecodeUtf8At(run, end);
        if (!next.valid || (!joined && !IsCombining(next.code)))
            break;
        joined = next.code == kZeroWidthJoiner;
        end += next.length;
    }
    return end;
}

std::size_t IdeographBreaks::NextIdeograph(std::size_t from)
{
    if (from >= scannedFrom_ && from <= found_)
        return found_;
    const auto* const begin = reinterpret_cast<const unsigned char*>(text_.data());
    const auto* const end = begin + text_.size();
    const auto* at = begin + from;
    while (at < end) {
        // Eight bytes at a time over ASCII, the usual case.
        if (end - at >= 8) {
            std::uint64_t word;
            std::memcpy(&word, at, sizeof word);
            if ((word & 0x8080808080808080u) == 0) {
                at += 8;
                continue;
            }
        }
        if (*at < kFirstIdeographLead) {
            ++at;
            continue;
        }
        const Utf8Char c = DecodeUtf8At(text_, static_cast<std::size_t>(at - begin));
        if (c.valid && IsIdeographic(c.code))
            break;
        at += c.length;
    }
    scannedFrom_ = from;
    found_ = static_cast<std::size_t>(std::min(at, end) - begin);
    return found_;
}

std::size_t IdeographBreaks::NextBreak(std::size_t from, std::size_t end)
{
    for (std::size_t at = from;;) {
        const std::size_t ideograph = NextIdeograph(at);
        if (ideograph >= end)
            return end;
        const char32_t code = CodeAt(text_, ideograph);
        if (ideograph > from && BreaksBetween(CharacterBefore(text_, ideograph), code))
            return ideograph;
        const std::size_t after = ideograph + DecodeUtf8At(text_, ideograph).length;
        if (after >= end)
            return end;
        if (BreaksBetween(code, CodeAt(text_, after)))
            return after;
        at = after;
    }
}
