// The token finders against std::regex with the patterns they stand for: any
// difference in a match's position, length or capture aborts.
#include "FuzzRequire.h"

#include "core/CmdLnTokens.h"

#include <regex>
#include <string>

namespace {

const std::regex kLeadingQuote(R"re(^\s*?"(.*?)")re");
const std::regex kDottedToken(R"re([^"\s,]*?\.[^"\s,]*)re");
const std::regex kQuotedToken(R"re(".*?")re");

// std::regex recurses per character of a token; the command lines it stood
// in for are capped far below this.
constexpr std::size_t kMaxInput = 512;

void RequireSameTokens(const std::regex& pattern, const std::vector<TextSpan>& found, const std::string& s,
                       const char* what)
{
    std::size_t n = 0;
    for (std::sregex_iterator it(s.begin(), s.end(), pattern), end; it != end; ++it, ++n) {
        Require(n < found.size(), what);
        Require(found[n].position == static_cast<std::size_t>(it->position()) &&
                    found[n].length == static_cast<std::size_t>(it->length()),
                what);
    }
    Require(n == found.size(), what);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size)
{
    if (size > kMaxInput)
        return 0;
    const std::string s(reinterpret_cast<const char*>(data), size);

    std::smatch m;
    const auto leading = MatchLeadingQuote(s);
    Require(leading.has_value() == std::regex_search(s, m, kLeadingQuote), "leading quote found alike");
    if (leading)
        Require(m.position(0) == 0 && leading->length == static_cast<std::size_t>(m.length(0)) &&
                    leading->text.position == static_cast<std::size_t>(m.position(1)) &&
                    leading->text.length == static_cast<std::size_t>(m.length(1)),
                "leading quote spans alike");

    RequireSameTokens(kDottedToken, FindDottedTokens(s), s, "dotted tokens alike");
    RequireSameTokens(kQuotedToken, FindQuotedTokens(s), s, "quoted tokens alike");
    return 0;
}
