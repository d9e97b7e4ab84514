#include "HttpStatus.h"

#include <cstring>

namespace {

struct StatusText {
    unsigned long code;
    const char* text;
};

constexpr StatusText StatusTexts[] = {
    {10, "Resolving name"},
    {11, "Name resolved"},
    {20, "Connecting to server"},
    {21, "Connected"},
    {30, "Sending Request"},
    {31, "Request sent"},
    {40, "Receiving response"},
    {41, "Response received"},
    {42, "CTL Response received"},
    {43, "Prefetch"},
    {50, "Closing connection"},
    {51, "Connection closed"},
    {60, "Handle created"},
    {70, "Handle closing"},
    {100, "Request complete"},
    {110, "Redirect"},
    {120, "Intermediate response"},
    {200, "State change"},
};

}  // namespace

const char* StatusChangeText(unsigned long code)
{
    for (const StatusText& entry : StatusTexts) {
        if (entry.code == code)
            return entry.text;
    }
    return "Unknown status";
}

std::string RedirectTarget(const void* info, std::size_t size)
{
    if (info == nullptr)
        return {};
    const char* text = static_cast<const char*>(info);
    const void* zero = std::memchr(text, '\0', size);
    return std::string(text, zero ? static_cast<const char*>(zero) - text : size);
}
