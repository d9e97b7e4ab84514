#pragma once
// The date headers of an HTTP response (Date, Last-Modified, Expires) in the
// three forms servers send: "Sun, 06 Nov 1994 08:49:37 GMT",
// "Sunday, 06-Nov-94 08:49:37 GMT" and "Sun Nov  6 08:49:37 1994", with or
// without the weekday, with a zone name (taken as UTC) or a numeric offset
// such as "+0200". Two-digit years below 80 are 20xx, others 19xx.
// Platform-free: no <windows.h> here.

#include "OleDate.h"

#include <cstdint>
#include <optional>
#include <string_view>

// The moment in UTC as seconds since 0001-01-01; nullopt when the text is not
// a date of these forms or names an impossible day or time.
std::optional<std::int64_t> HTTPDateToUTCSeconds(std::string_view text);

// The moment in local time, with the platform's bias in minutes
// (UTC = local time + bias); 0 when the text is not a date.
OleDate HTTPDateToLocal(std::string_view text, int biasMinutes);
