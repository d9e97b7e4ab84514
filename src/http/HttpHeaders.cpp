#include "HttpHeaders.h"

#include "core/StrCon.h"

#include <limits>
#include <utility>

namespace {

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

std::string_view TrimBlanks(std::string_view text)
{
    const auto isBlank = [](char c) { return c == ' ' || c == '\t'; };
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

// Digits only, no blanks; nullopt when empty or beyond int64.
std::optional<std::int64_t> ParseDigits(std::string_view digits)
{
    if (digits.empty())
        return std::nullopt;
    constexpr std::int64_t max = std::numeric_limits<std::int64_t>::max();
    std::int64_t value = 0;
    for (char c : digits) {
        if (!IsDigit(c))
            return std::nullopt;
        const int d = c - '0';
        if (value > (max - d) / 10)
            return std::nullopt;
        value = value * 10 + d;
    }
    return value;
}

// Calls visit(name, value) for each header line after the status line until
// it returns false.
template <typename Visit>
void ForEachHeader(std::string_view raw, Visit visit)
{
    bool statusLine = true;
    while (!raw.empty()) {
        const std::size_t end = raw.find('\n');
        std::string_view line = raw.substr(0, end);
        raw = end == std::string_view::npos ? std::string_view{} : raw.substr(end + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (std::exchange(statusLine, false) && line.starts_with("HTTP/"))
            continue;
        // A folded continuation belongs to the line before; never a header of its own.
        if (!line.empty() && (line.front() == ' ' || line.front() == '\t'))
            continue;
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos)
            continue;
        if (!visit(TrimBlanks(line.substr(0, colon)), TrimBlanks(line.substr(colon + 1))))
            return;
    }
}

}  // namespace

int StatusCodeOf(std::string_view text)
{
    text = TrimBlanks(text);
    if (text.starts_with("HTTP/")) {
        const std::size_t blank = text.find(' ');
        if (blank == std::string_view::npos)
            return 0;
        text = TrimBlanks(text.substr(blank + 1));
        text = text.substr(0, text.find(' '));
    }
    if (text.size() != 3 || text.front() == '0')
        return 0;
    const auto code = ParseDigits(text);
    return code ? static_cast<int>(*code) : 0;
}

std::optional<std::int64_t> ParseByteCount(std::string_view text)
{
    return ParseDigits(TrimBlanks(text));
}

std::optional<ContentRange> ParseContentRange(std::string_view text)
{
    text = TrimBlanks(text);
    if (text.size() < 6 || !SameText(text.substr(0, 6), "bytes "))
        return std::nullopt;
    text = TrimBlanks(text.substr(6));
    const std::size_t slash = text.find('/');
    if (slash == std::string_view::npos)
        return std::nullopt;
    const std::string_view span = TrimBlanks(text.substr(0, slash));
    const std::string_view totalText = TrimBlanks(text.substr(slash + 1));

    ContentRange range;
    if (totalText != "*") {
        range.total = ParseDigits(totalText);
        if (!range.total)
            return std::nullopt;
    }
    if (span == "*")
        return range.total ? std::optional(range) : std::nullopt;

    const std::size_t dash = span.find('-');
    if (dash == std::string_view::npos)
        return std::nullopt;
    range.first = ParseDigits(span.substr(0, dash));
    const auto last = ParseDigits(span.substr(dash + 1));
    if (!range.first || !last || *range.first > *last)
        return std::nullopt;
    range.last = *last;
    if (range.total && range.last >= *range.total)
        return std::nullopt;
    return range;
}

std::optional<std::string> HeaderValue(std::string_view rawHeaders, std::string_view name)
{
    std::optional<std::string> found;
    ForEachHeader(rawHeaders, [&](std::string_view key, std::string_view value) {
        if (!SameText(key, name))
            return true;
        found = std::string(value);
        return false;
    });
    return found;
}

std::optional<std::int64_t> ContentLengthOf(std::string_view rawHeaders)
{
    std::optional<std::int64_t> length;
    bool valid = true;
    ForEachHeader(rawHeaders, [&](std::string_view key, std::string_view value) {
        if (!SameText(key, "Content-Length"))
            return true;
        const auto parsed = ParseByteCount(value);
        valid = parsed && (!length || *length == *parsed);
        length = parsed;
        return valid;
    });
    return valid ? length : std::nullopt;
}

std::string RealmOf(std::string_view authenticate)
{
    const std::size_t open = authenticate.find("=\"");
    if (open == std::string_view::npos)
        return std::string(authenticate);
    const std::string_view realm = authenticate.substr(open + 2);
    // Up to the closing quote, so that parameters after the realm stay out.
    return std::string(realm.substr(0, realm.find('"')));
}

std::string RangeValidator(std::string_view rawHeaders)
{
    // A weak tag cannot stand for the same bytes (If-Range allows none).
    if (auto tag = HeaderValue(rawHeaders, "ETag"); tag && !tag->empty() && !tag->starts_with("W/"))
        return *tag;
    // A date never reads as a tag: If-Range tells the two apart by the "W/" and the quote.
    std::string modified = HeaderValue(rawHeaders, "Last-Modified").value_or("");
    return modified.starts_with("W/") || modified.starts_with("\"") ? std::string() : modified;
}
