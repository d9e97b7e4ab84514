#pragma once
// The three token shapes the command-line parser looks for, found by hand.
// Each finder reports exactly what an ECMAScript regular expression of the
// shape would report, in the "C" locale: the same positions and lengths, the
// same leftmost choice and lazy repetition, and for the finders that walk a
// whole text, the same sequence of matches a regex iterator visits. None of
// the shapes can match empty text. Platform-free; nothing here throws except
// on memory exhaustion.

#include <cstddef>
#include <optional>
#include <string_view>
#include <vector>

struct TextSpan {
    std::size_t position = 0;
    std::size_t length = 0;

    friend bool operator==(const TextSpan&, const TextSpan&) = default;
};

// A white-space character as the patterns' \s sees it: space, tab, line
// feed, vertical tab, form feed, carriage return.
bool IsPatternSpace(char c);

// ^\s*?"(.*?)" : a quoted text at the start of the line, behind white space
// only. The whole match always starts at 0; text is the capture between the
// quotes, which holds no line break.
struct LeadingQuoteMatch {
    std::size_t length = 0;
    TextSpan text;
};
std::optional<LeadingQuoteMatch> MatchLeadingQuote(std::string_view s);

// [^"\s,]*?\.[^"\s,]* : every run of characters other than quotes, white
// space and commas that holds a dot.
std::vector<TextSpan> FindDottedTokens(std::string_view s);

// ".*?" : every text between a quote and the next quote, quotes included,
// when no line break comes between them; a closing quote opens nothing.
std::vector<TextSpan> FindQuotedTokens(std::string_view s);
