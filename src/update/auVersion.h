#pragma once
// Whether a published release is newer than the running one: by dotted
// version number or by release date (month/day/year). Both rules give a
// defined answer for any text. Platform-free: no <windows.h> here.

#include <compare>
#include <string>
#include <string_view>

// Negative, zero or positive as `a` is older than, equal to or newer than
// `b`. Up to four dotted parts, a missing part counting as 0 and a fifth one
// ignored; when a part of either text is not a decimal integer (empty,
// letters, a trailing blank, out of range), the whole texts are compared
// byte by byte instead.
int CompareVersions(std::string_view a, std::string_view b);

// One to four dotted parts, each decimal digits only and within a 32-bit
// integer: a version CompareVersions always compares part by part, never by
// the byte fallback. No sign, no blank, no empty part.
bool IsPlainVersion(std::string_view text);

struct TauCalendarDate {
    int year = 0;
    int month = 0;
    int day = 0;
    auto operator<=>(const TauCalendarDate&) const = default;
};

// A day of the calendar in the years 1 to 9999 (leap years included).
bool IsCalendarDate(const TauCalendarDate& date);

// "month/day/year" whatever the locale; `today` for anything that is not a
// date of the calendar (years 1 to 9999).
TauCalendarDate ParseInfoDate(std::string_view text, TauCalendarDate today);

// Two-digit month and day and four-digit year, the form ParseInfoDate reads.
std::string FormatInfoDate(TauCalendarDate date);

// The byDate rule: newer when the running release's date is strictly earlier
// than the published one.
bool IsNewerByDate(std::string_view publishedDate, std::string_view runningDate, TauCalendarDate today);
