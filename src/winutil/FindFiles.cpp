#include "FindFiles.h"

#include "winutil/UniqueHandle.h"

#include <cstring>

namespace {

bool IsDotEntry(const char* name)
{
    return strcmp(name, ".") == 0 || strcmp(name, "..") == 0;
}

} // namespace

std::vector<FoundFile> FindFiles(std::string_view pattern)
{
    std::vector<FoundFile> found;
    WIN32_FIND_DATAA data;
    QuietErrorMode quiet;
    UniqueFind find(FindFirstFileA(std::string(pattern).c_str(), &data));
    if (!find)
        return found;
    do {
        if (!IsDotEntry(data.cFileName))
            found.push_back({data.cFileName, data.dwFileAttributes});
    } while (FindNextFileA(find.get(), &data));
    return found;
}

bool PathExists(std::string_view path)
{
    if (path.empty())
        return false;
    WIN32_FIND_DATAA data;
    QuietErrorMode quiet;
    return static_cast<bool>(UniqueFind(FindFirstFileA(std::string(path).c_str(), &data)));
}

bool FileExists(std::string_view path)
{
    const DWORD attributes = GetFileAttributesA(std::string(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool DirectoryExists(std::string_view path)
{
    const DWORD attributes = GetFileAttributesA(std::string(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool ForceDirectories(std::string_view path)
{
    std::string folder(path);
    while (folder.size() > 3 && folder.back() == '\\')
        folder.pop_back();
    if (folder.empty() || DirectoryExists(folder))
        return !folder.empty();
    const auto parent = folder.find_last_of('\\');
    if (parent != std::string::npos && parent > 0 && !ForceDirectories(folder.substr(0, parent)))
        return false;
    return CreateDirectoryA(folder.c_str(), nullptr) || DirectoryExists(folder);
}
