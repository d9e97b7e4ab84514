#include "ScratchFolder.h"

#include "common/Environment.h"
#include "winutil/FindFiles.h"
#include "winutil/UniqueHandle.h"
#include "winutil/WideText.h"

#include <windows.h>

#include <stdexcept>

namespace {

void RemoveTree(const std::string& folder)
{
    for (const FoundFile& found : FindFiles(folder + "\\*")) {
        const std::string path = folder + "\\" + found.name;
        SetFileAttributesW(WideFromUtf8(path).c_str(), FILE_ATTRIBUTE_NORMAL);
        if (found.attributes & FILE_ATTRIBUTE_DIRECTORY)
            RemoveTree(path);
        else
            DeleteFileW(WideFromUtf8(path).c_str());
    }
    RemoveDirectoryW(WideFromUtf8(folder).c_str());
}

std::string ParentOf(const std::string& path)
{
    return path.substr(0, path.find_last_of('\\'));
}

}  // namespace

ScratchFolder::ScratchFolder(std::string_view prefix)
{
    static int counter = 0;
    path_ = "C:\\" + std::string(prefix) + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++counter);
    RemoveTree(path_);
    // A prefix may name folders above the scratch folder; those made here go with it.
    created_ = path_;
    while (ParentOf(created_).size() > 2 && !DirectoryExists(ParentOf(created_)))
        created_ = ParentOf(created_);
    if (!ForceDirectories(path_))
        throw std::runtime_error("cannot create " + path_);
}

ScratchFolder::~ScratchFolder()
{
    RemoveTree(created_);
}

std::string ScratchFolder::PathOf(std::string_view relative) const
{
    return path_ + "\\" + std::string(relative);
}

std::string ScratchFolder::AddFile(std::string_view relative, std::string_view content) const
{
    const std::string path = PathOf(relative);
    ForceDirectories(ParentOf(path));
    UniqueFile file(CreateFileW(WideFromUtf8(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        throw std::runtime_error("cannot create " + path);
    DWORD written = 0;
    WriteFile(file.get(), content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
    return path;
}

std::string ScratchFolder::CopyIn(const std::string& source, std::string_view relative) const
{
    const std::string path = PathOf(relative);
    ForceDirectories(ParentOf(path));
    if (!CopyFileW(WideFromUtf8(source).c_str(), WideFromUtf8(path).c_str(), FALSE))
        throw std::runtime_error("cannot copy " + source + " to " + path);
    return path;
}

EnvVarScope::EnvVarScope(std::string name, const std::string& value) : name_(std::move(name))
{
    if (GetEnvironmentVariableW(WideFromUtf8(name_).c_str(), nullptr, 0) != 0)
        previous_ = GetEnvVar(name_);
    SetEnvironmentVariableW(WideFromUtf8(name_).c_str(), WideFromUtf8(value).c_str());
}

EnvVarScope::~EnvVarScope()
{
    SetEnvironmentVariableW(WideFromUtf8(name_).c_str(), previous_ ? WideFromUtf8(*previous_).c_str() : nullptr);
}
