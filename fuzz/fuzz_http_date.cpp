#include "http/HttpDate.h"
#include "FuzzRequire.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

bool IsLeap(int year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

// Writes seconds since 0001-01-01 back as an RFC 1123 date by walking the
// calendar: slow, but independent of the parser.
std::string FormatDate(std::int64_t seconds)
{
    static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    static const int lengths[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    std::int64_t days = seconds / 86400;
    const int secondOfDay = static_cast<int>(seconds % 86400);
    int year = 1;
    while (days >= (IsLeap(year) ? 366 : 365)) {
        days -= IsLeap(year) ? 366 : 365;
        ++year;
    }
    int month = 1;
    for (;; ++month) {
        const int length = month == 2 && IsLeap(year) ? 29 : lengths[month - 1];
        if (days < length)
            break;
        days -= length;
    }
    char text[64];
    std::snprintf(text, sizeof text, "%02d %s %04d %02d:%02d:%02d GMT", static_cast<int>(days) + 1,
                  months[month - 1], year, secondOfDay / 3600, secondOfDay / 60 % 60, secondOfDay % 60);
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider input(data, size);
    const int bias = input.ConsumeIntegralInRange(-1440, 1440);
    const std::string text = input.ConsumeRemainingBytesAsString();

    const auto utc = HTTPDateToUTCSeconds(text);
    const OleDate local = HTTPDateToLocal(text, bias);
    Require(utc.has_value() || local == 0.0, "local date without a UTC date");
    if (!utc)
        return 0;

    Require(*utc > -86400 && *utc < *SecondsFromParts(9999, 12, 31, 23, 59, 59) + 86400, "date out of range");
    if (*utc >= 0 && *utc <= *SecondsFromParts(9999, 12, 31, 23, 59, 59)) {
        const auto again = HTTPDateToUTCSeconds(FormatDate(*utc));
        // Years below 100 read back as two-digit years; only later ones round-trip.
        if (*utc >= *SecondsFromParts(100, 1, 1))
            Require(again == utc, "date does not read back");
    }
    return 0;
}
