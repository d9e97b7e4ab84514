#pragma once
// Reading the header block of an HTTP response as the platform hands it over
// (status line first, lines separated by CR LF, an empty line at the end).
// Every number is checked: a value that is not a plain decimal number, or
// does not fit, counts as absent; a header given twice with different
// numbers counts as absent too. Byte counts are 64-bit.
// Platform-free: no <windows.h> here.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The status code of a status line ("HTTP/1.1 200 OK") or of the bare code
// text ("200"); 0 when it holds no code from 100 to 999.
int StatusCodeOf(std::string_view text);

// A decimal byte count with optional blanks around it; nullopt when the text
// is empty, has any other character (signs included) or exceeds int64.
std::optional<std::int64_t> ParseByteCount(std::string_view text);

// "bytes first-last/total", "bytes first-last/*" or "bytes */total".
struct ContentRange {
    std::optional<std::int64_t> first;  // none for "*"
    std::int64_t last = 0;
    std::optional<std::int64_t> total;  // none for "*"
};

// nullopt when the text is malformed or first > last or last >= total.
std::optional<ContentRange> ParseContentRange(std::string_view text);

// The value of the first header line named `name` (any case), without the
// blanks around it; nullopt when there is no such line. The status line is
// never taken for a header.
std::optional<std::string> HeaderValue(std::string_view rawHeaders, std::string_view name);
// What an If-Range may name of this answer's file: its ETag when that is a
// strong one, else its Last-Modified as sent; empty when it has neither.
std::string RangeValidator(std::string_view rawHeaders);

// Content-Length of a header block, checked as above.
std::optional<std::int64_t> ContentLengthOf(std::string_view rawHeaders);

// The realm shown to the user for a WWW-Authenticate value: the quoted text
// that follows the first `="` (to the closing quote, or to the end when there
// is none); the whole value when it has no `="`.
std::string RealmOf(std::string_view authenticate);
