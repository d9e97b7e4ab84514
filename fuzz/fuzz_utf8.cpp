// Any bytes decode to a defined UTF-16 text whose UTF-8 form decodes to the
// same text again; any UTF-16 (unpaired surrogates included) comes back whole;
// a cut by UTF-16 length keeps its limit and never splits a character.
#include "core/Utf8.h"
#include "FuzzRequire.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const std::u16string decoded = Utf16FromUtf8(bytes);
    Require(decoded.size() <= bytes.size(), "one code unit at most per byte");
    Require(Utf16FromUtf8(Utf8FromUtf16(decoded)) == decoded, "decoded text round trip");
    if (IsValidUtf8(bytes))
        Require(Utf8FromUtf16(decoded) == bytes, "valid UTF-8 round trip");
    const std::size_t limit = size ? data[0] : 0;
    const std::size_t cut = Utf8PrefixLength(bytes, limit);
    Require(cut <= bytes.size() && Utf16FromUtf8(bytes.substr(0, cut)).size() <= limit, "a cut holds its limit");
    Require(Utf16FromUtf8(bytes.substr(0, cut)) == decoded.substr(0, Utf16FromUtf8(bytes.substr(0, cut)).size()),
            "a cut ends between characters");

    std::u16string units;
    for (std::size_t i = 0; i + 1 < size; i += 2)
        units += static_cast<char16_t>(data[i] | (data[i + 1] << 8));
    Require(Utf16FromUtf8(Utf8FromUtf16(units)) == units, "UTF-16 round trip");
    return 0;
}
