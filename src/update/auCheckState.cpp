#include "update/auCheckState.h"

#include "http/HttpDate.h"
#include "http/HttpHeaders.h"

#include <algorithm>
#include "update/auReleaseRules.h"
#include "update/auRollout.h"
#include "update/auURL.h"

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

bool IsOwnerValue(std::string_view text)
{
    if (text.size() > OwnerValueLimit)
        return false;
    for (const char c : text)
        if (static_cast<unsigned char>(c) < 32 || c == 0x7f)
            return false;
    return true;
}

bool KeepsNothing(const TauCheckState& state)
{
    return state.etag.empty() && state.lastModified.empty() && !state.retryAfter;
}

std::string Hex16(std::uint64_t hash)
{
    static constexpr char Hex[] = "0123456789abcdef";
    std::string digits;
    for (int digit = 0; digit < 16; ++digit, hash >>= 4)
        digits += Hex[hash & 15];
    return digits;
}

} // namespace

TauCheckState ValidatorsOf(std::string_view rawHeaders, std::int64_t now)
{
    TauCheckState state;
    if (const auto etag = HeaderValue(rawHeaders, "ETag"); etag && IsEntityTag(*etag))
        state.etag = *etag;
    if (const auto modified = HeaderValue(rawHeaders, "Last-Modified"))
        state.lastModified = LastModifiedIfValid(*modified, now);
    if (!state.etag.empty() || !state.lastModified.empty())
        state.keptAt = now;
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

TauCheckState StateForCheck(const TauCheckState& stored, const TauCheckOwner& owner, std::int64_t now)
{
    TauCheckState state;
    state.owner = owner;
    if (stored.owner.address != owner.address || !SameProductName(stored.owner.product, owner.product))
        return state;
    if (stored.owner.version == owner.version) {
        state.etag = stored.etag;
        state.lastModified = stored.lastModified;
        state.keptAt = stored.keptAt;
    }
    const std::int64_t limit = IsHttpsAddress(owner.address) ? RetryAfterLimitSeconds : PlainRetryAfterLimitSeconds;
    if (stored.retryAfter > now)
        state.retryAfter = std::min(stored.retryAfter, now + limit);
    return state;
}

std::string CheckStateText(const TauCheckState& state)
{
    std::string text;
    if (KeepsNothing(state))
        return text;
    const TauCheckOwner& owner = state.owner;
    if (IsOwnerValue(owner.address) && IsOwnerValue(owner.product) && IsOwnerValue(owner.version))
        text = "address=" + owner.address + "\r\nproduct=" + owner.product + "\r\nversion=" + owner.version + "\r\n";
    if (!state.etag.empty())
        text += "etag=" + state.etag + "\r\n";
    if (!state.lastModified.empty())
        text += "lastmodified=" + state.lastModified + "\r\n";
    if (state.retryAfter)
        text += "retryafter=" + std::to_string(state.retryAfter) + "\r\n";
    if (!state.etag.empty() || !state.lastModified.empty())
        text += "keptat=" + std::to_string(state.keptAt) + "\r\n";
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
    const auto keptAt = UpdateStateValue(text, "keptat");
    const auto kept = keptAt ? Decimal(*keptAt) : std::nullopt;
    if (kept && *kept <= now && now - *kept <= ValidatorLifetimeSeconds) {
        state.keptAt = *kept;
    } else {
        state.etag.clear();
        state.lastModified.clear();
    }
    if (const auto retry = UpdateStateValue(text, "retryafter")) {
        const auto until = Decimal(*retry);
        if (until && *until > now && *until - now <= RetryAfterLimitSeconds)
            state.retryAfter = *until;
    }
    if (KeepsNothing(state))
        return state;
    const auto address = UpdateStateValue(text, "address");
    const auto product = UpdateStateValue(text, "product");
    const auto version = UpdateStateValue(text, "version");
    if (address && product && version && IsOwnerValue(*address) && IsOwnerValue(*product) && IsOwnerValue(*version))
        state.owner = {std::string(*address), std::string(*product), std::string(*version)};
    // Anyone may have written a plain-http answer's wait.
    if (!IsHttpsAddress(state.owner.address) && state.retryAfter - now > PlainRetryAfterLimitSeconds)
        state.retryAfter = 0;
    return state;
}

std::string CheckStateFileName(std::string_view address, std::string_view product)
{
    // The address goes first with its length, so no two pairs give one text.
    const std::string check = "check " + std::to_string(address.size()) + " " + std::string(address);
    return "check-" + Hex16(ProductHash(check, product)) + ".state";
}

std::string FormerCheckStateFileName(std::string_view product)
{
    return "check-" + Hex16(ProductHash("check", product)) + ".state";
}
