#include "Format.h"

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
