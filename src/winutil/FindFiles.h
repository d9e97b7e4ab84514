#pragma once
// Directory searches through an owned find handle. Paths and names are
// UTF-8 (core/Utf8.h: a name that is no valid UTF-16 keeps its exact form).
#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

// While it lives, the system shows no critical-error box ("No disk" for an
// empty removable drive or an unreachable network drive): the call that
// touched the drive just fails. For the calling thread where the system
// keeps the mode per thread (Windows 7 and later), so that threads checking
// files at once never restore each other's mode; process-wide before.
class QuietErrorMode {
public:
    QuietErrorMode();
    ~QuietErrorMode();
    QuietErrorMode(const QuietErrorMode&) = delete;
    QuietErrorMode& operator=(const QuietErrorMode&) = delete;

private:
    UINT old_ = 0;
    bool perThread_ = false;
};

struct FoundFile {
    std::string name;
    DWORD attributes = 0;
};

// Entries matching the pattern (a folder path plus a mask), in the order the
// file system returns them, without "." and "..". Empty when nothing matches.
std::vector<FoundFile> FindFiles(std::string_view pattern);

// A directory search for the name finds something: a file, a folder, or for a
// name with wildcards any match. The system's critical-error boxes (a drive
// without a disk) are suppressed meanwhile.
bool PathExists(std::string_view path);
bool FileExists(std::string_view path);
bool DirectoryExists(std::string_view path);

// Creates the folder and every missing folder above it; true when it exists
// as a folder afterwards.
bool ForceDirectories(std::string_view path);
