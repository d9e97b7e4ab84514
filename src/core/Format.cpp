#include "Format.h"

#include <charconv>

std::string FormatText(std::string_view format, std::initializer_list<std::string_view> args)
{
    std::string out;
    auto next = args.begin();
    for (std::size_t i = 0; i < format.size(); ++i) {
        if (format[i] == '%' && i + 1 < format.size() && format[i + 1] == 's') {
            if (next != args.end())
                out += *next++;
            ++i;
            continue;
        }
        out += format[i];
    }
    return out;
}

namespace {

std::string Digits(unsigned long long value, int base, std::size_t width)
{
    char text[24];
    const auto end = std::to_chars(text, text + sizeof text, value, base).ptr;
    std::string digits(text, end);
    if (base == 16)
        for (char& c : digits)
            c = c >= 'a' ? static_cast<char>(c - 'a' + 'A') : c;
    if (digits.size() < width)
        digits.insert(0, width - digits.size(), '0');
    return digits;
}

}  // namespace

std::string PaddedDecimal(long long value, std::size_t width)
{
    if (value >= 0)
        return Digits(static_cast<unsigned long long>(value), 10, width);
    // Negated as unsigned, so the smallest value has a magnitude too.
    const unsigned long long magnitude = 0ULL - static_cast<unsigned long long>(value);
    return '-' + Digits(magnitude, 10, width > 0 ? width - 1 : 0);
}

std::string PaddedHex(unsigned long long value, std::size_t width)
{
    return Digits(value, 16, width);
}
