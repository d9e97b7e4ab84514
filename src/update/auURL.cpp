#include "auURL.h"

#include <algorithm>

namespace {

bool StartsWithNoCase(std::string_view text, std::string_view prefix)
{
    if (text.size() < prefix.size())
        return false;
    return std::equal(prefix.begin(), prefix.end(), text.begin(), [](char p, char t) {
        const auto lower = static_cast<unsigned char>(t) >= 'A' && static_cast<unsigned char>(t) <= 'Z'
                               ? static_cast<char>(t + ('a' - 'A'))
                               : t;
        return p == lower;
    });
}

}  // namespace

std::optional<std::string> BrowserAddress(std::string_view url)
{
    std::string address(url);
    if (address.find("://") == std::string::npos)
        address = "http://" + address;
    const bool unsafe = std::any_of(address.begin(), address.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte < 32 || byte == 127 || c == '"';
    });
    if (unsafe)
        return std::nullopt;
    for (std::string_view scheme : {"http://", "https://", "ftp://"})
        if (StartsWithNoCase(address, scheme) && address.size() > scheme.size())
            return "\"" + address + "\"";
    return std::nullopt;
}

std::string HostOfURL(std::string_view url)
{
    const std::size_t scheme = url.find("://");
    std::string_view rest = scheme == std::string_view::npos ? url : url.substr(scheme + 3);
    rest = rest.substr(0, rest.find_first_of("/?#"));
    const std::size_t at = rest.rfind('@');
    if (at != std::string_view::npos)
        rest.remove_prefix(at + 1);
    return std::string(rest.substr(0, rest.find(':')));
}
