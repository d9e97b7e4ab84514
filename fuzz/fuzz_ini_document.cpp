// Settings-file text and key paths: parsing, lookups and in-place changes
// must never fail on any input, and a change must read back. The one-pass
// reader of the stores' indexes reads the same text: every section it lists
// must be found again by its name.
#include "agent/IniDocument.h"
#include "core/ProfileSections.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t split = input.find('\x1f');
    const std::string_view path = split == std::string_view::npos ? input.substr(0, 32) : input.substr(0, split);
    const std::string_view text = split == std::string_view::npos ? input : input.substr(split + 1);

    const ProfileSections sections = ProfileSections::Parse(text);
    for (const ProfileSection& section : sections.All())
        if (!sections.First(section.name))
            std::abort();
    IniDocument doc = IniDocument::Parse(text);
    std::int32_t number = 0;
    ParseIniInteger(path, number);
    const auto key = SplitKeyPath(path);
    if (!key)
        return 0;
    doc.Get(key->section, key->name);
    if (const ProfileSection* section = sections.First(key->section))
        section->Value(key->name);
    if (doc.Set(key->section, key->name, "value")) {
        const IniDocument again = IniDocument::Parse(doc.Text());
        const auto back = again.Get(key->section, key->name);
        if (!back || *back != "value")
            std::abort();
    }
    return 0;
}
