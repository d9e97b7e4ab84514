#include "auURL.h"

#include <algorithm>
#include <initializer_list>

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

bool HasUnsafeCharacter(std::string_view address)
{
    return std::any_of(address.begin(), address.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte < 32 || byte == 127 || c == '"';
    });
}

// The part after "scheme://" when the address starts with one of the schemes
// and names something after it.
std::optional<std::string_view> AfterScheme(std::string_view address,
                                            std::initializer_list<std::string_view> schemes)
{
    for (std::string_view scheme : schemes)
        if (StartsWithNoCase(address, scheme) && address.size() > scheme.size())
            return address.substr(scheme.size());
    return std::nullopt;
}

}  // namespace

std::optional<std::string> BrowserAddress(std::string_view url)
{
    std::string address(url);
    if (address.find("://") == std::string::npos)
        address = "http://" + address;
    if (HasUnsafeCharacter(address) || !AfterScheme(address, {"http://", "https://", "ftp://"}))
        return std::nullopt;
    return "\"" + address + "\"";
}

std::optional<std::string> WebPageAddress(std::string_view url)
{
    const auto rest = AfterScheme(url, {"http://", "https://"});
    if (!rest || HasUnsafeCharacter(url) || url.find(' ') != std::string_view::npos || rest->front() == '/' ||
        rest->front() == '\\' || HostOfURL(url).empty())
        return std::nullopt;
    return std::string(url);
}

bool IsHttpsAddress(std::string_view url)
{
    return AfterScheme(url, {"https://"}) && !HostOfURL(url).empty();
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
