#include "HttpDate.h"

#include "core/StrCon.h"

#include <array>

namespace {

constexpr std::array<std::string_view, 7> WeekDays = {"SUN", "MON", "TUE", "WED", "THU", "FRI", "SAT"};
constexpr std::array<std::string_view, 12> Months = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                                     "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};
// More digits than any part of a date has; keeps the conversion far from overflow.
constexpr std::size_t MaxDigits = 4;

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool IsLetter(char c)
{
    const char u = UpperChar(c);
    return u >= 'A' && u <= 'Z';
}

// A left-to-right reader over the date text.
class DateReader {
public:
    explicit DateReader(std::string_view text) : rest_(text) {}

    std::string_view Rest() const { return rest_; }

    void SkipBlanks() { Skip([](char c) { return c == ' ' || c == '\t'; }); }
    void SkipSeparators() { Skip([](char c) { return c == ' ' || c == '\t' || c == '-'; }); }

    // A run of letters or a run of digits.
    std::string_view Word()
    {
        if (rest_.empty())
            return {};
        const bool digits = IsDigit(rest_.front());
        std::size_t n = 0;
        while (n < rest_.size() && (digits ? IsDigit(rest_[n]) : IsLetter(rest_[n])))
            ++n;
        return Take(n);
    }

    std::optional<int> Number()
    {
        std::size_t n = 0;
        while (n < rest_.size() && IsDigit(rest_[n]))
            ++n;
        if (n == 0 || n > MaxDigits)
            return std::nullopt;
        return ToInt(Take(n));
    }

    bool Accept(char c)
    {
        if (rest_.empty() || rest_.front() != c)
            return false;
        rest_.remove_prefix(1);
        return true;
    }

    // True when the text goes on with a number followed by ':'.
    bool AtTime() const
    {
        std::size_t n = 0;
        while (n < rest_.size() && IsDigit(rest_[n]))
            ++n;
        return n > 0 && n < rest_.size() && rest_[n] == ':';
    }

    static int ToInt(std::string_view digits)
    {
        int value = 0;
        for (char c : digits)
            value = value * 10 + (c - '0');
        return value;
    }

private:
    template <typename Pred>
    void Skip(Pred pred)
    {
        std::size_t n = 0;
        while (n < rest_.size() && pred(rest_[n]))
            ++n;
        rest_.remove_prefix(n);
    }

    std::string_view Take(std::size_t n)
    {
        const std::string_view taken = rest_.substr(0, n);
        rest_.remove_prefix(n);
        return taken;
    }

    std::string_view rest_;
};

struct TimeOfDay {
    int hour = 0;
    int minute = 0;
    int second = 0;
};

// 1-based month of a three-letter name, 0 when it is none.
int MonthOf(std::string_view word)
{
    if (word.size() != 3)
        return 0;
    for (std::size_t i = 0; i < Months.size(); ++i) {
        if (SameText(word, Months[i]))
            return static_cast<int>(i) + 1;
    }
    return 0;
}

bool IsNumberWord(std::string_view word)
{
    return !word.empty() && word.size() <= MaxDigits && IsDigit(word.front());
}

bool StartsWithWeekDay(std::string_view text)
{
    if (text.size() < 3)
        return false;
    for (std::string_view day : WeekDays) {
        if (SameText(text.substr(0, 3), day))
            return true;
    }
    return false;
}

std::optional<TimeOfDay> ReadTime(DateReader& reader)
{
    const auto hour = reader.Number();
    if (!hour || !reader.Accept(':'))
        return std::nullopt;
    const auto minute = reader.Number();
    if (!minute || !reader.Accept(':'))
        return std::nullopt;
    const auto second = reader.Number();
    if (!second)
        return std::nullopt;
    return TimeOfDay{*hour, *minute, *second};
}

// Offset east of UTC in seconds; zone names count as UTC.
std::optional<std::int64_t> ZoneOffset(std::string_view zone)
{
    if (zone.size() <= 4 || (zone.front() != '+' && zone.front() != '-'))
        return 0;
    for (char c : zone.substr(1, 4)) {
        if (!IsDigit(c))
            return std::nullopt;
    }
    const std::int64_t hours = DateReader::ToInt(zone.substr(1, 2));
    const std::int64_t offset = hours * 3600 + DateReader::ToInt(zone.substr(3, 2)) * 60;
    return zone.front() == '-' ? -offset : offset;
}

int FullYear(int year)
{
    if (year < 80)
        return year + 2000;
    if (year < 100)
        return year + 1900;
    return year;
}

}  // namespace

std::optional<std::int64_t> HTTPDateToUTCSeconds(std::string_view text)
{
    const std::string trimmed = TrimUpTo(text, ' ');
    std::string_view date = trimmed;
    if (StartsWithWeekDay(date)) {
        const std::size_t blank = date.find(' ');
        if (blank == std::string_view::npos)
            return std::nullopt;
        date.remove_prefix(blank + 1);
    }

    DateReader reader(date);
    reader.SkipSeparators();
    const std::string_view first = reader.Word();
    reader.SkipSeparators();
    const std::string_view second = reader.Word();
    int day = 0;
    int month = MonthOf(first);
    if (month != 0 && IsNumberWord(second)) {
        day = DateReader::ToInt(second);
    } else if (IsNumberWord(first) && (month = MonthOf(second)) != 0) {
        day = DateReader::ToInt(first);
    } else {
        return std::nullopt;
    }

    reader.SkipSeparators();
    std::optional<TimeOfDay> time;
    if (reader.AtTime()) {
        time = ReadTime(reader);
        if (!time)
            return std::nullopt;
        reader.SkipBlanks();
    }
    const auto year = reader.Number();
    if (!year)
        return std::nullopt;
    reader.SkipBlanks();
    if (!time && reader.AtTime()) {
        time = ReadTime(reader);
        if (!time)
            return std::nullopt;
    }

    const auto offset = ZoneOffset(TrimUpTo(reader.Rest(), ' '));
    if (!offset)
        return std::nullopt;
    const TimeOfDay t = time.value_or(TimeOfDay{});
    const auto seconds = SecondsFromParts(FullYear(*year), month, day, t.hour, t.minute, t.second);
    if (!seconds)
        return std::nullopt;
    return *seconds - *offset;
}

OleDate HTTPDateToLocal(std::string_view text, int biasMinutes)
{
    const auto utc = HTTPDateToUTCSeconds(text);
    if (!utc)
        return 0.0;
    return OleDateFromSeconds(*utc - static_cast<std::int64_t>(biasMinutes) * 60);
}
