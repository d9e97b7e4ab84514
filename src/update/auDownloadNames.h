#pragma once
// Rules of the download step that need no system: the name each release file
// is downloaded to beside the program, and the file time a download gets.
// Platform-free: no <windows.h> here.

#include "http/OleDate.h"
#include "update/stub/StubRecords.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The file name a release file is downloaded to: the last part of the address
// (after the last "/", "\" or ":"; a query string stays part of it),
// percent-decoded once ("%XX" is the byte XX; a "%" without two hexadecimal
// digits stays) and read as UTF-8, followed by ".uTMP" (PendingSuffix). The
// name comes from the network, so nullopt for any name that is not a plain file
// of the program's folder (IsPlainFileName, which the stub applies too: a
// separator or a colon is refused also when it was encoded as %2F, %5C or %3A).
std::optional<std::string> PendingNameOfURL(std::string_view url);

// A local date and time as the file system stores it: 100-nanosecond units
// since 1 January 1601, cut to the two-second steps of the oldest file dates.
// nullopt for 0 (no date) and for any time outside 1980-01-01 00:00:00 to
// 2107-12-31 23:59:58, the range every file system of the platform can hold:
// such a time is skipped, never wrapped.
std::optional<std::uint64_t> LocalFileTimeOf(OleDate date);
