#pragma once
// The programs' logs of what they did not show: one stamped line per report
// (local time, line breaks flattened), the file kept under the size cap of
// core/LogText.h. A log that cannot be written is skipped silently: logging
// never fails the caller. Safe from any thread of several processes at once:
// the writers of one file take turns by a lock on it, waited for up to a
// second, past which the lines are skipped rather than the caller held.
#include <string>
#include <vector>

// Appends to the log file at `path` (UTF-8), creating its folder.
void AppendLogFile(const std::string& path, const std::string& line);
// Several lines with one reading and one writing of the file, in their order.
void AppendLogFile(const std::string& path, const std::vector<std::string>& lines);
