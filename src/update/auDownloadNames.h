#pragma once
// Rules of the download step that need no system: the name each release file
// is downloaded to beside the program, and the file time a download gets.
// Platform-free: no <windows.h> here.

#include "update/auDateTime.h"
#include "update/stub/StubRecords.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The file name a release file is downloaded to: the last part of the address
// (after the last "/", "\" or ":"; a query string stays part of it) followed by
// ".uTMP" (PendingSuffix). The name comes from the network, so nullopt for any
// name that is not a plain file of the program's folder (IsPlainFileName: the
// stub would refuse it).
std::optional<std::string> PendingNameOfURL(std::string_view url);

// A local date and time as the file system stores it: 100-nanosecond units
// since 1 January 1601, cut to the two-second steps of the oldest file dates.
// nullopt for 0 (no date) and for any time outside 1980-01-01 00:00:00 to
// 2107-12-31 23:59:58, the range every file system of the platform can hold:
// such a time is skipped, never wrapped.
std::optional<std::uint64_t> LocalFileTimeOf(OleDate date);
