#pragma once
// An INI file's sections read in one pass and looked up as the system's
// profile services look them up: the first section of a name, the first key
// of a name in it (names compare without regard to case), the value without
// its surrounding blanks and one pair of surrounding quotes. The services read
// the whole file again for every key asked, which makes reading a store's
// index of a few hundred items key by key cost seconds.
// Platform-free: no <windows.h> here.

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

struct ProfileSection {
    std::string name;
    // As read: blanks and quotes taken off; nothing for a line without "=".
    std::vector<std::pair<std::string, std::optional<std::string>>> values;

    // The value of the first line of that name; nothing when the section lacks it.
    std::optional<std::string> Value(std::string_view key) const;
};

class ProfileSections {
public:
    static ProfileSections Parse(std::string_view text);

    // Every section in file order, repeated names included, as the system lists them.
    const std::vector<ProfileSection>& All() const { return sections_; }
    // The first section of that name, which is the one the system reads; null when absent.
    const ProfileSection* First(std::string_view name) const;

private:
    std::vector<ProfileSection> sections_;
};
