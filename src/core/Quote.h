#pragma once
// Quoting of program paths for command lines. Platform-free.
#include <string>
#include <string_view>

// Empty stays empty; a text that already begins with c is left as it is;
// otherwise c in front, and c at the end unless the text already ends with c.
std::string QuoteText(std::string_view text, char c);
