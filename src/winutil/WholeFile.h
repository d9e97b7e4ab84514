#pragma once
// Whole files as bytes through the Win32 file API. The C++ file streams would
// do the same, but they link the runtime's locale machinery, most of the size
// of a static program. Paths are UTF-8. Nothing here throws except on memory
// exhaustion; a failure leaves GetLastError telling why.
#include <windows.h>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// The content of a file just opened for reading, or nothing when it cannot
// be read or is larger than maxSize.
std::optional<std::string> ReadWholeFile(HANDLE file, std::size_t maxSize);

// The content of the file at path, opened for reading while others may read
// and write it; nothing when it cannot be opened or read, or is larger than
// maxSize.
std::optional<std::string> ReadWholeFile(const std::string& path, std::size_t maxSize);

// Replaces the file's content with text, creating it when it is missing.
bool WriteWholeFile(const std::string& path, std::string_view text);
// The same through a file open for writing, from its start, the rest cut off.
bool WriteWholeFile(HANDLE file, std::string_view text);

// Adds text at the end of the file, creating it when it is missing. Others
// may read, write and append meanwhile; every write lands at the end.
bool AppendToFile(const std::string& path, std::string_view text);
