#pragma once
// Directory searches through an owned find handle.
#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

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
