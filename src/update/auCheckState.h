#pragma once
// What a product's update check remembers between checks, kept per check
// (the information file's address and the product) in the update state
// folder, with the installed version it was made for: the validators of the last full answer with
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

// The check a state belongs to: what the copy asks and who asks it.
struct TauCheckOwner {
    std::string address;  // the information file's address
    std::string product;  // update.ini's Product, may be empty
    std::string version;  // the installed version (or date) the answer was for
    bool operator==(const TauCheckOwner&) const = default;
};

struct TauCheckState {
    std::string etag;          // as sent: "x" or W/"x"
    std::string lastModified;  // an HTTP date, as sent
    std::int64_t retryAfter = 0;  // 0: none
    TauCheckOwner owner;       // empty while nothing above is kept
    std::int64_t keptAt = 0;   // when the validators were taken
    bool operator==(const TauCheckState&) const = default;
};

// The longest validator taken, and the longest wait a server may ask for.
inline constexpr std::size_t ValidatorLimit = 256;
inline constexpr std::int64_t RetryAfterLimitSeconds = 7 * 24 * 3600;
// A plain-http answer may be anyone's: it delays its address a day at most.
inline constexpr std::int64_t PlainRetryAfterLimitSeconds = 24 * 3600;
// Validators serve a day: an answer with nothing new that was not the
// server's own (a replayed signed file with the current file's validators)
// cannot make the server's 304 hide a release for longer.
inline constexpr std::int64_t ValidatorLifetimeSeconds = 24 * 3600;
// The longest address, product or version an owner line keeps.
inline constexpr std::size_t OwnerValueLimit = 1024;

// The validators of a 200 answer's header block, taken at `now`; each empty
// when absent or garbled (an ETag that is not one quoted tag of printable
// ASCII, a Last-Modified that is no HTTP date or lies after `now`).
TauCheckState ValidatorsOf(std::string_view rawHeaders, std::int64_t now);

// The moment a Retry-After value names: seconds from `now` (decimal digits
// only) or an HTTP date; nothing when garbled, not after `now`, or more than
// RetryAfterLimitSeconds away.
std::optional<std::int64_t> RetryAfterUntil(std::string_view value, std::int64_t now);

// The header lines of a conditional request for the state's validators.
std::vector<std::string> ConditionalHeaders(const TauCheckState& state);

// What of a stored state this check may use: the validators only when they
// were kept for the same address, product (ASCII case ignored) and
// installed version, the wait only for the same address and product, and
// for a plain-http address no more than PlainRetryAfterLimitSeconds from
// `now`. The result carries `owner`.
TauCheckState StateForCheck(const TauCheckState& stored, const TauCheckOwner& owner, std::int64_t now);

// The state file's text and back. Reading checks each value as above and
// drops a wait already over, validators taken more than
// ValidatorLifetimeSeconds before `now` (or at no known time) and a
// plain-http address's wait beyond PlainRetryAfterLimitSeconds; a text larger than UpdateStateLimit is
// ignored whole. Nothing kept gives an empty text and an empty owner; an
// owner value with a control character or longer than OwnerValueLimit is
// not written (the state then belongs to no check).
std::string CheckStateText(const TauCheckState& state);
TauCheckState CheckStateFromText(std::string_view text, std::int64_t now);

// The state file's name for a check: the same for products that differ only
// in the case of ASCII letters, another for another address, and a plain
// file name whatever the two hold.
std::string CheckStateFileName(std::string_view address, std::string_view product);
// The name older versions gave a product's state (keyed by the product
// alone, shared by every product without one): read by nothing, removed.
std::string FormerCheckStateFileName(std::string_view product);
