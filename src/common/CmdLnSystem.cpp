#include "common/CmdLnSystem.h"

#include "common/Utils.h"
#include "winutil/FindFiles.h"
#include "winutil/UniqueShell.h"
#include "winutil/WideText.h"

#include <shellapi.h>
#include <shlobj.h>

bool WindowsCmdLnSystem::Exists(const std::string& path) const
{
    return PathExists(path);
}

std::string WindowsCmdLnSystem::FullPath(const std::string& path) const
{
    const DWORD size = GetFullPathNameA(path.c_str(), 0, nullptr, nullptr);
    if (size == 0)
        return path;
    std::string full(size, '\0');
    const DWORD length = GetFullPathNameA(path.c_str(), size, full.data(), nullptr);
    if (length == 0 || length >= size)
        return path;
    full.resize(length);
    return full;
}

// The shell copies the name into buffers of MAX_PATH characters, so longer
// names are never handed to it.
std::string WindowsCmdLnSystem::FindProgramFor(const std::string& file) const
{
    if (file.size() >= MAX_PATH)
        return {};
    char found[MAX_PATH + 1] = {};
    const auto result = reinterpret_cast<INT_PTR>(FindExecutableA(file.c_str(), "", found));
    return result > 32 ? std::string(found) : std::string();
}

std::string WindowsCmdLnSystem::LongForm(const std::string& path) const
{
    if (path.size() >= MAX_PATH)
        return path;
    UniqueCom<IShellFolder> desktop;
    if (FAILED(SHGetDesktopFolder(desktop.put())))
        return path;
    std::wstring name = WideFromAnsi(path);
    UniqueItemIdList items;
    ULONG eaten = 0;
    if (name.empty() || FAILED(desktop.get()->ParseDisplayName(nullptr, nullptr, name.data(), &eaten, items.put(), nullptr)))
        return path;
    char longPath[MAX_PATH + 1] = {};
    return SHGetPathFromIDListA(items.get(), longPath) ? std::string(longPath) : path;
}

std::string WindowsCmdLnSystem::ExpandEnvVars(const std::string& text) const
{
    return ::ExpandEnvVars(text);
}

std::string WindowsCmdLnSystem::GetEnvVar(const std::string& name) const
{
    return ::GetEnvVar(name);
}

const CmdLnSystem& SystemCmdLn()
{
    static const WindowsCmdLnSystem system;
    return system;
}
