#pragma once
// Whether a name names one file inside a folder and nothing else: not empty,
// no path separator, colon (drives, streams), wildcard, quote, angle bracket,
// bar or control character, and no trailing dot or blank, which the system
// drops, so the name would open another file ("." and ".." among them).
// Allocation-free and without exceptions: the self-upgrade stub links this
// file alone. Callers add their own stricter rules on top.
#include <string_view>

bool IsBareFileName(std::string_view name);
