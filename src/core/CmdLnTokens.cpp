#include "core/CmdLnTokens.h"

// No regex engine here: std::regex's traits carry a std::locale, which links
// the C++ runtime's whole locale machinery, most of the size of a static
// program. Shapes this simple are as clear and far smaller as direct scans.

namespace {

bool IsLineBreak(char c)
{
    return c == '\n' || c == '\r';
}

bool IsTokenChar(char c)
{
    return c != '"' && c != ',' && !IsPatternSpace(c);
}

// The quote that closes one opened at open: the first quote after it, unless
// a line break comes first (".*?" does not cross one).
std::size_t ClosingQuote(std::string_view s, std::size_t open)
{
    const std::size_t stop = s.find_first_of("\"\n\r", open + 1);
    if (stop == std::string_view::npos || IsLineBreak(s[stop]))
        return std::string_view::npos;
    return stop;
}

}  // namespace

bool IsPatternSpace(char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

std::optional<LeadingQuoteMatch> MatchLeadingQuote(std::string_view s)
{
    // A quote is no white space, so the lazy \s*? can only stop at the first
    // character that is not.
    std::size_t open = 0;
    while (open < s.size() && IsPatternSpace(s[open]))
        ++open;
    if (open == s.size() || s[open] != '"')
        return std::nullopt;
    const std::size_t close = ClosingQuote(s, open);
    if (close == std::string_view::npos)
        return std::nullopt;
    return LeadingQuoteMatch{close + 1, TextSpan{open + 1, close - open - 1}};
}

std::vector<TextSpan> FindDottedTokens(std::string_view s)
{
    // A dot is a token character, so a match starts where a run of token
    // characters holding a dot starts, and the greedy tail takes the rest of
    // the run; the next search starts behind the run.
    std::vector<TextSpan> tokens;
    std::size_t i = 0;
    while (i < s.size()) {
        if (!IsTokenChar(s[i])) {
            ++i;
            continue;
        }
        const std::size_t start = i;
        bool dotted = false;
        for (; i < s.size() && IsTokenChar(s[i]); ++i)
            dotted = dotted || s[i] == '.';
        if (dotted)
            tokens.push_back({start, i - start});
    }
    return tokens;
}

std::vector<TextSpan> FindQuotedTokens(std::string_view s)
{
    // An opening quote without a closing one before a line break matches
    // nothing, and no quote stands between it and that break.
    std::vector<TextSpan> tokens;
    std::size_t open = s.find('"');
    while (open != std::string_view::npos) {
        const std::size_t close = ClosingQuote(s, open);
        if (close != std::string_view::npos)
            tokens.push_back({open, close - open + 1});
        open = s.find('"', close != std::string_view::npos ? close + 1 : open + 1);
    }
    return tokens;
}
