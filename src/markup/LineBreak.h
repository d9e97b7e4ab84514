#pragma once
// Where a line of markup text may break, platform-free. The text is UTF-8.
// Besides after a blank, where the layout has always broken, a line may break
// before and after an ideograph (CJK ideographs, kana, hangul, and the CJK
// symbols, punctuation and full-width forms), except before closing
// punctuation ("。", "」", ")") and after opening punctuation ("「", "("), so
// that such a sign never starts or ends a line on its own. A run wider than
// the whole line is broken between characters: a character here is one UTF-8
// sequence (a byte that starts none counts alone, as DecodeUtf8At takes it)
// with the combining marks that follow it, so neither a UTF-8 sequence nor
// the UTF-16 surrogate pair it becomes is ever split.
#include <cstddef>
#include <string_view>

bool IsIdeographic(char32_t code);

// Whether a line may break between these neighbours because of an
// ideograph. Blanks are the layout's own rule; a line never breaks before a
// blank or a combining mark.
bool BreaksBetween(char32_t before, char32_t after);

// The character that ends just before `end` (0 < end <= text.size()).
char32_t CharacterBefore(std::string_view text, std::size_t end);

// The end of the character that starts at `at` in a run of the markup: a
// UTF-8 sequence with its combining marks; an escaped "&&", or an entity of
// the run ("&lt;"), is one character, and a lone "&" stays with the character
// it underlines.
std::size_t NextCharacter(std::string_view run, std::size_t at);

// The break opportunities next to ideographs in one text. Asked for at
// positions that mostly move forward (as the passes over the lines walk the
// text), it scans the whole text about once however many runs it has.
class IdeographBreaks {
public:
    explicit IdeographBreaks(std::string_view text) : text_(text) {}

    // The first position p, from < p < end <= text.size(), at which a line
    // may break next to an ideograph; `end` when there is none.
    std::size_t Next(std::size_t from, std::size_t end)
    {
        // Most runs have no ideograph before their end: known without a call.
        return from >= scannedFrom_ && from <= found_ && found_ >= end ? end : NextBreak(from, end);
    }

private:
    std::size_t NextBreak(std::size_t from, std::size_t end);
    // The start of the first ideograph at or after `from`; text.size() when none.
    std::size_t NextIdeograph(std::size_t from);

    std::string_view text_;
    // No ideograph starts in [scannedFrom_, found_); one starts at found_.
    std::size_t scannedFrom_ = 1;
    std::size_t found_ = 0;
};
