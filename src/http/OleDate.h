#pragma once
// Calendar dates and times as the engine hands them to its events: OLE
// automation dates (days since 30 December 1899, the time of day as the
// fraction; before that day the fraction still counts forward from midnight,
// so 29 December 1899 06:00 is -1.25). 0 stands for "no date".
// Internally a moment is a count of seconds since 1 January of year 1 (UTC or
// local, as the caller says), which keeps the arithmetic exact.
// Platform-free: no <windows.h> here.

#include <cstdint>
#include <optional>

using OleDate = double;

// Seconds since 0001-01-01 00:00:00; nullopt for an impossible date or time
// (year 1..9999, month 1..12, a day the month has, 0..23:0..59:0..59).
std::optional<std::int64_t> SecondsFromParts(int year, int month, int day, int hour = 0, int minute = 0,
                                             int second = 0);

OleDate OleDateFromSeconds(std::int64_t seconds);

// Convenience for callers and tests; 0 when the parts are impossible.
OleDate OleDateFromParts(int year, int month, int day, int hour = 0, int minute = 0, int second = 0);
