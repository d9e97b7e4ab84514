#include "Quote.h"

std::string QuoteText(std::string_view text, char c)
{
    if (text.empty() || text.front() == c)
        return std::string(text);
    std::string quoted(1, c);
    quoted += text;
    if (text.back() != c)
        quoted += c;
    return quoted;
}
