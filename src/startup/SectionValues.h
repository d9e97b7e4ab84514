#pragma once
// A kept section's values as the store's index holds them, read and written
// back raw, and their word in a move's journal, so that undoing a move cut
// short gives the section back as it was.
#include "winutil/ProfileFile.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// The index is read whole; one larger than this is none of ours.
inline constexpr std::size_t kMaxIndexSize = 256u << 20;

// Each key a move writes with the value the index held (quotes and all:
// written back so, they read as before), none for a key it lacks.
using TSectionValues = std::vector<std::pair<std::string, std::optional<std::string>>>;

// One read of the section, which the profile services read whole for every
// key asked.
TSectionValues ValuesOf(const std::string& index, const std::string& name, const std::vector<std::string>& keys);
// Writes the value as the index held it, without the quotes ProfileFile adds.
bool WriteRawKey(const ProfileFile& ini, const std::string& section, const std::string& key, const std::string& value);
bool EraseKey(const ProfileFile& ini, const std::string& section, const char* key);

inline constexpr const char* kWasHead = "was:";

// The values in a journal's word: each key alone (it was missing) or with
// "=" and its value in hexadecimal, comma-separated, after kWasHead.
std::string WasWord(const TSectionValues& before);
// The values of a word's list (after kWasHead); nothing when the list is not
// one WasWord writes or names `journalKey`.
std::optional<TSectionValues> ParseWas(std::string_view list, std::string_view journalKey);
