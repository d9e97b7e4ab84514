#include "update/auCheckState.h"

#include "http/auHTTPDate.h"
#include "http/auHTTPHeaders.h"
#include "update/auRollout.h"

namespace {

bool IsEntityTag(std::string_view text)
{
    if (text.substr(0, 2) == "W/")
        text.remove_prefix(2);
    if (text.size() < 2 || text.size() > ValidatorLimit || text.front() != '"' || text.back() != '"')
        return false;
    for (const char c : text.substr(1, text.size() - 2))
        if (c < 0x21 || c > 0x7e || c == '"')
            return false;
    return true;
}

std::string LastModifiedIfValid(std::string_view text, std::int64_t now)
{
    if (text.size() > ValidatorLimit)
        return {};
    const auto when = HTTPDateToUTCSeconds(text);
    return when && *when <= now ? std::string(text) : std::string();
}

std::optional<std::int64_t> Decimal(std::string_view text)
{
    if (text.empty() || text.size() > 18)
        return std::nullopt;
    std::int64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return value;
}

} // namespace

TauCheckState ValidatorsOf(std::string_view rawHeaders, std::int64_t now)
{
    TauCheckState state;
    if (const auto etag = HeaderValue(rawHeaders, "ETag"); etag && IsEntityTag(*etag))
        state.etag = *etag;
    if (const auto modified = HeaderValue(rawHeaders, "Last-Modified"))
        state.lastModified = LastModifiedIfValid(*modified, now);
    return state;
}

std::optional<std::int64_t> RetryAfterUntil(std::string_view value, std::int64_t now)
{
    std::optional<std::int64_t> until;
    if (const auto seconds = Decimal(value))
        until = *seconds <= RetryAfterLimitSeconds ? std::optional(now + *seconds) : std::nullopt;
    else if (value.size() <= ValidatorLimit)
        until = HTTPDateToUTCSeconds(value);
    if (!until || *until <= now || *until - now > RetryAfterLimitSeconds)
        return std::nullopt;
    return until;
}

std::vector<std::string> ConditionalHeaders(const TauCheckState& state)
{
    std::vector<std::string> lines;
    if (!state.etag.empty())
        lines.push_back("If-None-Match: " + state.etag);
    if (!state.lastModified.empty())
        lines.push_back("If-Modified-Since: " + state.lastModified);
    return lines;
}

std::string CheckStateText(const TauCheckState& state)
{
    std::string text;
    if (!state.etag.empty())
        text += "etag=" + state.etag + "\r\n";
    if (!state.lastModified.empty())
        text += "lastmodified=" + state.lastModified + "\r\n";
    if (state.retryAfter)
        text += "retryafter=" + std::to_string(state.retryAfter) + "\r\n";
    return text;
}

TauCheckState CheckStateFromText(std::string_view text, std::int64_t now)
{
    TauCheckState state;
    if (text.size() > UpdateStateLimit)
        return state;
    if (const auto etag = UpdateStateValue(text, "etag"); etag && IsEntityTag(*etag))
        state.etag = *etag;
    if (const auto modified = UpdateStateValue(text, "lastmodified"))
        state.lastModified = LastModifiedIfValid(*modified, now);
    if (const auto retry = UpdateStateValue(text, "retryafter")) {
        const auto until = Decimal(*retry);
        if (until && *until > now && *until - now <= RetryAfterLimitSeconds)
            state.retryAfter = *until;
    }
    return state;
}

std::string CheckStateFileName(std::string_view product)
{
    static constexpr char Hex[] = "0123456789abcdef";
    std::string name = "check-";
    std::uint64_t hash = ProductHash("check", product);
    for (int digit = 0; digit < 16; ++digit, hash >>= 4)
        name += Hex[hash & 15];
    return name + ".state";
}
