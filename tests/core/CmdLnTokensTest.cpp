// The token finders against std::regex with the patterns they stand for: the
// library is the reference here, and tests are not shipped, so its size does
// not matter.
#include "core/CmdLnTokens.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <iterator>
#include <optional>
#include <random>
#include <regex>
#include <string>

namespace {

const std::regex kLeadingQuote(R"re(^\s*?"(.*?)")re");
const std::regex kDottedToken(R"re([^"\s,]*?\.[^"\s,]*)re");
const std::regex kQuotedToken(R"re(".*?")re");

std::optional<LeadingQuoteMatch> ReferenceLeadingQuote(const std::string& s)
{
    std::smatch m;
    if (!std::regex_search(s, m, kLeadingQuote))
        return std::nullopt;
    EXPECT_EQ(m.position(0), 0);
    return LeadingQuoteMatch{static_cast<std::size_t>(m.length(0)),
                             TextSpan{static_cast<std::size_t>(m.position(1)), static_cast<std::size_t>(m.length(1))}};
}

std::vector<TextSpan> ReferenceTokens(const std::regex& pattern, const std::string& s)
{
    std::vector<TextSpan> spans;
    for (std::sregex_iterator it(s.begin(), s.end(), pattern), end; it != end; ++it)
        spans.push_back({static_cast<std::size_t>(it->position()), static_cast<std::size_t>(it->length())});
    return spans;
}

std::string Shown(const std::vector<TextSpan>& spans)
{
    std::string text;
    for (const TextSpan& span : spans)
        text += "(" + std::to_string(span.position) + "," + std::to_string(span.length) + ")";
    return text;
}

std::string Shown(const std::optional<LeadingQuoteMatch>& match)
{
    if (!match)
        return "none";
    return std::to_string(match->length) + ":" + Shown({match->text});
}

std::string Escaped(const std::string& s)
{
    std::string text;
    for (const char c : s) {
        const auto u = static_cast<unsigned char>(c);
        if (u >= ' ' && u < 0x7F && c != '\\') {
            text += c;
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", u);
            text += hex;
        }
    }
    return text;
}

// Counts the inputs compared, so a test can show it compared something.
int CompareWithReference(const std::string& s)
{
    SCOPED_TRACE("input \"" + Escaped(s) + "\"");
    EXPECT_EQ(Shown(MatchLeadingQuote(s)), Shown(ReferenceLeadingQuote(s)));
    EXPECT_EQ(Shown(FindDottedTokens(s)), Shown(ReferenceTokens(kDottedToken, s)));
    EXPECT_EQ(Shown(FindQuotedTokens(s)), Shown(ReferenceTokens(kQuotedToken, s)));
    return ::testing::Test::HasFailure() ? 0 : 1;
}

// Every character the patterns treat apart, one ordinary letter, and bytes
// above 127 that some code pages call white space.
const std::string kAlphabet = std::string("\" \t.,a\\\n\v\r\f") + '\0' + "\xA0\x85";

TEST(CmdLnTokens, TrickyLinesMatchAsTheRegexDoes)
{
    const std::string lines[] = {
        "",
        "\"",
        "\"\"",
        "\"\"\"",
        " \t\v\f\"C:\\Program Files\\app.exe\" /min",
        "\r\n\"a\"",
        "\"a\nb\" \"c\"",
        "\"a\rb\"",
        "x\"a\"",
        "\xA0\"a\"",
        "\x85\"a\"",
        "\"unclosed",
        "   ",
        ".",
        "..",
        "a.b,c.d e.f\"g.h\"i.j",
        ",.,",
        "abc def.ghi jkl",
        "tool.exe\tdata\\cfg.ini\n",
        "a\vb.c\fd.e",
        "\"a.b\" \"c\nd\" \"e\" \"",
        "\"\n\"\"",
        std::string("a.\0b", 4),
        std::string("\"\0\"", 3),
        "\xFF.\xFE \x80\"\x81\"",
        "\\\\server\\share\\x.exe \"C:\\x y\\z.dll\",Entry",
        "rundll32.exe shell32.dll,Control_RunDLL \"desk.cpl\",,0",
    };
    int compared = 0;
    for (const std::string& line : lines)
        compared += CompareWithReference(line);
    EXPECT_EQ(compared, static_cast<int>(std::size(lines)));
}

// Every line of up to five characters from a smaller alphabet: 37 449 lines.
TEST(CmdLnTokens, AllShortLinesMatchAsTheRegexDoes)
{
    const std::string alphabet = "\" .,a\n\t\r";
    int compared = 0;
    std::string line;
    const auto visit = [&](auto&& self, std::size_t length) -> void {
        compared += CompareWithReference(line);
        if (length == 5 || ::testing::Test::HasFailure())
            return;
        for (const char c : alphabet) {
            line.push_back(c);
            self(self, length + 1);
            line.pop_back();
        }
    };
    visit(visit, 0);
    EXPECT_EQ(compared, 37449);
}

TEST(CmdLnTokens, RandomLinesMatchAsTheRegexDoes)
{
    std::mt19937 random(20261207);
    std::uniform_int_distribution<std::size_t> length(0, 40);
    std::uniform_int_distribution<std::size_t> pick(0, kAlphabet.size() - 1);
    int compared = 0;
    for (int n = 0; n < 20000 && !::testing::Test::HasFailure(); ++n) {
        std::string line(length(random), ' ');
        for (char& c : line)
            c = kAlphabet[pick(random)];
        compared += CompareWithReference(line);
    }
    EXPECT_EQ(compared, 20000);
}

}  // namespace
