#include "auVersion.h"

#include "core/Format.h"

#include <algorithm>
#include <array>
#include <climits>
#include <optional>

namespace {

constexpr int PartCount = 4;

// Optional leading blanks, an optional sign and decimal digits up to the end;
// nothing for anything else or a value outside a 32-bit integer.
std::optional<int> ParseInteger(std::string_view text)
{
    std::size_t at = 0;
    while (at < text.size() && text[at] == ' ')
        ++at;
    bool negative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-'))
        negative = text[at++] == '-';
    if (at == text.size())
        return std::nullopt;
    long long value = 0;
    for (; at < text.size(); ++at) {
        const auto digit = static_cast<unsigned char>(text[at]) - static_cast<unsigned>('0');
        if (digit > 9)
            return std::nullopt;
        value = value * 10 + digit;
        if (value > static_cast<long long>(INT_MAX) + 1)
            return std::nullopt;
    }
    if (negative)
        value = -value;
    if (value > INT_MAX)
        return std::nullopt;
    return static_cast<int>(value);
}

// The parts of the text with "." appended, cut at successive dots; a part
// that is not there is "0".
std::array<std::string_view, PartCount> VersionParts(std::string_view text)
{
    std::array<std::string_view, PartCount> parts;
    parts.fill("0");
    std::size_t start = 0;
    for (std::string_view& part : parts) {
        if (start > text.size())
            break;
        const std::size_t dot = text.find('.', start);
        part = text.substr(start, dot == std::string_view::npos ? std::string_view::npos : dot - start);
        start = dot == std::string_view::npos ? text.size() + 1 : dot + 1;
    }
    return parts;
}

int Sign(int value)
{
    return (value > 0) - (value < 0);
}

bool IsLeap(int year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

bool IsDigits(std::string_view text)
{
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

bool IsCalendarDate(const TauCalendarDate& date)
{
    static constexpr int lengths[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (date.year < 1 || date.year > 9999 || date.month < 1 || date.month > 12 || date.day < 1)
        return false;
    const int length = date.month == 2 && IsLeap(date.year) ? 29 : lengths[date.month - 1];
    return date.day <= length;
}

bool IsPlainVersion(std::string_view text)
{
    for (int part = 0; part < PartCount; ++part) {
        const std::size_t dot = text.find('.');
        const std::string_view digits = text.substr(0, dot);
        if (!IsDigits(digits) || !ParseInteger(digits))
            return false;
        if (dot == std::string_view::npos)
            return true;
        text.remove_prefix(dot + 1);
    }
    return false;
}

int CompareVersions(std::string_view a, std::string_view b)
{
    const auto partsA = VersionParts(a);
    const auto partsB = VersionParts(b);
    for (int i = 0; i < PartCount; ++i) {
        // -1 stands for "not a number", as a written "-1" does too.
        const int numberA = ParseInteger(partsA[i]).value_or(-1);
        const int numberB = ParseInteger(partsB[i]).value_or(-1);
        if (numberA == -1 || numberB == -1)
            return Sign(a.compare(b));
        if (numberA != numberB)
            return numberA > numberB ? 1 : -1;
    }
    return 0;
}

TauCalendarDate ParseInfoDate(std::string_view text, TauCalendarDate today)
{
    const std::size_t first = text.find('/');
    if (first == std::string_view::npos)
        return today;
    const std::size_t second = text.find('/', first + 1);
    if (second == std::string_view::npos)
        return today;
    const auto month = ParseInteger(text.substr(0, first));
    const auto day = ParseInteger(text.substr(first + 1, second - first - 1));
    const auto year = ParseInteger(text.substr(second + 1));
    if (!month || !day || !year)
        return today;
    const TauCalendarDate date{*year, *month, *day};
    return IsCalendarDate(date) ? date : today;
}

std::string FormatInfoDate(TauCalendarDate date)
{
    return PaddedDecimal(date.month, 2) + '/' + PaddedDecimal(date.day, 2) + '/' + PaddedDecimal(date.year, 4);
}

bool IsNewerByDate(std::string_view publishedDate, std::string_view runningDate, TauCalendarDate today)
{
    return ParseInfoDate(runningDate, today) < ParseInfoDate(publishedDate, today);
}
