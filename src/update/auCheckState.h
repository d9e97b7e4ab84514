#pragma once
// What a product's update check remembers between checks, kept per product
// in the update state folder: the validators of the last full answer with
// nothing new (so the next check asks "only if changed" and a 304 answers
// it without a body), and the moment before which the server asked not to be
// asked again (Retry-After of a 503 or 429). Every value comes from a server
// or a file: one that is garbled, too long or already past is ignored.
// Times are UTC seconds since 0001-01-01, as HTTPDateToUTCSeconds gives them.
// Platform-free: no <windows.h> here.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct TauCheckState {
    std::string etag;          // as sent: "x" or W/"x"
    std::string lastModified;  // an HTTP date, as sent
    std::int64_t retryAfter = 0;  // 0: none
    bool operator==(const TauCheckState&) const = default;
};

// The longest validator taken, and the longest wait a server may ask for.
inline constexpr std::size_t ValidatorLimit = 256;
inline constexpr std::int64_t RetryAfterLimitSeconds = 7 * 24 * 3600;

// The validators of a 200 answer's header block; each empty when absent or
// garbled (an ETag that is not one quoted tag of printable ASCII, a
// Last-Modified that is no HTTP date or lies after `now`).
TauCheckState ValidatorsOf(std::string_view rawHeaders, std::int64_t now);

// The moment a Retry-After value names: seconds from `now` (decimal digits
// only) or an HTTP date; nothing when garbled, not after `now`, or more than
// RetryAfterLimitSeconds away.
std::optional<std::int64_t> RetryAfterUntil(std::string_view value, std::int64_t now);

// The header lines of a conditional request for the state's validators.
std::vector<std::string> ConditionalHeaders(const TauCheckState& state);

// The state file's text and back. Reading checks each value as above and
// drops a wait already over; a text larger than UpdateStateLimit is
// ignored whole.
std::string CheckStateText(const TauCheckState& state);
TauCheckState CheckStateFromText(std::string_view text, std::int64_t now);

// The state file's name for a product: the same for names that differ only
// in the case of ASCII letters, and a plain file name whatever the product.
std::string CheckStateFileName(std::string_view product);
