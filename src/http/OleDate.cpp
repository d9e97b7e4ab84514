#include "OleDate.h"

namespace {

constexpr std::int64_t SecondsPerDay = 86400;

constexpr int MonthLengths[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

constexpr bool IsLeapYear(int year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

constexpr int DaysInMonth(int year, int month)
{
    return month == 2 && IsLeapYear(year) ? 29 : MonthLengths[month - 1];
}

// Days from 0001-01-01 to the given valid date.
constexpr std::int64_t DayNumber(int year, int month, int day)
{
    const std::int64_t y = year - 1;
    std::int64_t days = y * 365 + y / 4 - y / 100 + y / 400;
    for (int m = 1; m < month; ++m)
        days += DaysInMonth(year, m);
    return days + day - 1;
}

// 1899-12-30, the zero of OLE dates; constant-initialised, so it is right
// even for callers that run during static initialisation.
constexpr std::int64_t OleEpochDay = DayNumber(1899, 12, 30);

}  // namespace

std::optional<std::int64_t> SecondsFromParts(int year, int month, int day, int hour, int minute, int second)
{
    if (year < 1 || year > 9999 || month < 1 || month > 12)
        return std::nullopt;
    if (day < 1 || day > DaysInMonth(year, month))
        return std::nullopt;
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59)
        return std::nullopt;
    return DayNumber(year, month, day) * SecondsPerDay + hour * 3600 + minute * 60 + second;
}

OleDate OleDateFromSeconds(std::int64_t seconds)
{
    std::int64_t day = seconds / SecondsPerDay;
    std::int64_t secondOfDay = seconds % SecondsPerDay;
    if (secondOfDay < 0) {
        --day;
        secondOfDay += SecondsPerDay;
    }
    const double date = static_cast<double>(day - OleEpochDay);
    const double time = static_cast<double>(secondOfDay) / SecondsPerDay;
    return date < 0 ? date - time : date + time;
}

OleDate OleDateFromParts(int year, int month, int day, int hour, int minute, int second)
{
    const auto seconds = SecondsFromParts(year, month, day, hour, minute, second);
    return seconds ? OleDateFromSeconds(*seconds) : 0.0;
}
