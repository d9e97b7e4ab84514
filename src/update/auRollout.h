#pragma once
// Phased releases: which share of installed copies takes a release. Each
// copy has a stable bucket, 0 to 99, from the machine's random value (kept
// in the update state) and the product's name; a release with "#rollout=P"
// goes to the copies whose bucket is below P. The state file's text is read
// here too. Platform-free: no <windows.h>; every function accepts any text.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The number of buckets: a rollout percentage names how many take a release.
inline constexpr int RolloutBuckets = 100;

// A 64-bit hash of a value and a product's name (ASCII case ignored), its
// bits well spread; not for secrets.
std::uint64_t ProductHash(std::string_view value, std::string_view product);

// The bucket of a machine for a product, 0 to 99: the same for the same
// value and product (ASCII case ignored, as products are compared), spread
// evenly over machines, and unrelated between products.
int RolloutBucket(std::string_view machineValue, std::string_view product);

// Whether a copy in `bucket` takes a release rolled out to `percent`.
inline bool TakesRollout(int bucket, int percent) { return bucket < percent; }

// The machine's random value as the state keeps it: 32 lower-case
// hexadecimal digits (128 bits).
bool IsMachineValue(std::string_view text);

// A state file is read only up to this size: a larger one is garbled.
inline constexpr std::size_t UpdateStateLimit = 4096;

// The value of "name=" in a state file's text: the rest of the first line
// that starts so (lines end in LF or CR LF); nothing when there is none.
std::optional<std::string_view> UpdateStateValue(std::string_view text, std::string_view name);

// The machine value in a state file's text ("machine=<value>" on a line of
// its own, lines ending in LF or CR LF); empty when the text is larger than
// UpdateStateLimit or holds no valid value (such a file is replaced).
std::string MachineValueFromState(std::string_view text);
// The state file's text for a machine value.
std::string MachineStateText(std::string_view machineValue);
