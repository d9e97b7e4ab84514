#pragma once
// The updater's rules that need no window: which mode a command line selects,
// the starter's window handle and the download status text. Platform-free.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

enum class TUpdaterMode { umSilent, umVisible, umLauncher };

// `arguments` are those after the program name. Exactly two select an
// update, silent only for a first argument of exactly "/silent".
TUpdaterMode UpdaterModeOf(const std::vector<std::string>& arguments);

// A window handle written in decimal, as wide as a pointer; a leading minus
// stands for a sign-extended handle. Anything else (empty, other characters,
// out of range for this program's pointers) gives 0.
std::uintptr_t ParseWindowHandle(std::string_view text);

// "Status: Downloading "<name>"... <read> kb/ <size> kb": the name is the part
// of the address after its last "/", the sizes whole kilobytes, truncated.
std::string DownloadStatusText(std::string_view fileURL, std::int64_t fileSize, std::int64_t bytesRead);
