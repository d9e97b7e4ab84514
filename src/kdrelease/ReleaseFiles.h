#pragma once
// The files kdrelease reads and writes, through std::filesystem with names in
// UTF-8 (wide paths on Windows, so any name the folder holds is reached).
// Platform-free: no <windows.h> here.

#include "kdrelease/ReleaseInfo.h"

#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

// A refusal or failure of kdrelease; the text is for the publisher.
class ReleaseError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

std::filesystem::path PathOfUtf8(std::string_view text);
std::string Utf8OfPath(const std::filesystem::path& path);

// A-Z as a-z: names as Windows compares them, for the ASCII letters.
std::string LowerAscii(std::string_view text);

// Whether the file stands directly in the folder.
bool IsInFolder(const std::filesystem::path& file, const std::filesystem::path& folder);

// The whole file. Throws ReleaseError naming the file.
std::string ReadFileBytes(const std::filesystem::path& path);
// Writes a file that must not exist yet unless `replace`; a private one is
// readable by its owner only. Throws ReleaseError.
void WriteReleaseFile(const std::filesystem::path& path, std::string_view bytes, bool replace,
                      bool privateFile = false);

// The files of a release folder, sorted by name (bytes), each with its size
// and SHA-256, without the files named in `skip` (any ASCII case); `problems`
// names every entry the engine could not install: a subfolder, two names
// that differ only in case. Throws ReleaseError when the folder cannot be read.
struct ReleaseFolder {
    std::vector<ReleaseFile> files;
    std::vector<std::string> problems;
};
ReleaseFolder ReadReleaseFolder(const std::filesystem::path& folder, const std::vector<std::string>& skip);
