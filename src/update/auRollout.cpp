#include "update/auRollout.h"

#include <cstdint>

namespace {

char AsciiLower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// FNV-1a: small and platform-free; the finaliser below spreads its bits
// before the remainder is taken.
std::uint64_t Fnv1a(std::uint64_t hash, std::string_view text, bool lower)
{
    for (const char c : text) {
        hash ^= static_cast<unsigned char>(lower ? AsciiLower(c) : c);
        hash *= 0x100000001b3ULL;
    }
    return hash;
}

std::uint64_t Mix(std::uint64_t x)
{
    x ^= x >> 30;
    x *= 0xbf58476d1ce4e5b9ULL;
    x ^= x >> 27;
    x *= 0x94d049bb133111ebULL;
    x ^= x >> 31;
    return x;
}


} // namespace

std::uint64_t ProductHash(std::string_view value, std::string_view product)
{
    std::uint64_t hash = Fnv1a(0xcbf29ce484222325ULL, value, /*lower=*/false);
    // The separator keeps ("ab", "c") and ("a", "bc") apart.
    hash = Fnv1a(hash, std::string_view("\n", 1), /*lower=*/false);
    return Mix(Fnv1a(hash, product, /*lower=*/true));
}

int RolloutBucket(std::string_view machineValue, std::string_view product)
{
    return static_cast<int>(ProductHash(machineValue, product) % RolloutBuckets);
}

bool IsMachineValue(std::string_view text)
{
    if (text.size() != 32)
        return false;
    for (const char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    return true;
}

std::optional<std::string_view> UpdateStateValue(std::string_view text, std::string_view name)
{
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (line.size() > name.size() && line.substr(0, name.size()) == name && line[name.size()] == '=')
            return line.substr(name.size() + 1);
    }
    return std::nullopt;
}

std::string MachineValueFromState(std::string_view text)
{
    if (text.size() > UpdateStateLimit)
        return {};
    const auto value = UpdateStateValue(text, "machine");
    return value && IsMachineValue(*value) ? std::string(*value) : std::string();
}

std::string MachineStateText(std::string_view machineValue)
{
    return "machine=" + std::string(machineValue) + "\r\n";
}
