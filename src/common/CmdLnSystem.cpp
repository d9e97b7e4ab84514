#include "common/CmdLnSystem.h"

#include "common/Environment.h"
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
    const std::wstring wide = WideFromUtf8(path);
    const DWORD size = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (size == 0)
        return path;
    std::wstring full(size, L'\0');
    const DWORD length = GetFullPathNameW(wide.c_str(), size, full.data(), nullptr);
    if (length == 0 || length >= size)
        return path;
    return Utf8FromWide(std::wstring_view(full.data(), length));
}

// The shell copies the name into buffers of MAX_PATH characters, so longer
// names are never handed to it.
std::string WindowsCmdLnSystem::FindProgramFor(const std::string& file) const
{
    const std::wstring name = WideFromUtf8(file);
    if (name.size() >= MAX_PATH)
        return {};
    wchar_t found[MAX_PATH + 1] = {};
    const auto result = reinterpret_cast<INT_PTR>(FindExecutableW(name.c_str(), L"", found));
    return result > 32 ? Utf8FromWide(found) : std::string();
}

std::string WindowsCmdLnSystem::LongForm(const std::string& path) const
{
    std::wstring name = WideFromUtf8(path);
    if (name.size() >= MAX_PATH)
        return path;
    UniqueCom<IShellFolder> desktop;
    if (FAILED(SHGetDesktopFolder(desktop.put())))
        return path;
    UniqueItemIdList items;
    ULONG eaten = 0;
    if (name.empty() || FAILED(desktop.get()->ParseDisplayName(nullptr, nullptr, name.data(), &eaten, items.put(), nullptr)))
        return path;
    wchar_t longPath[MAX_PATH + 1] = {};
    return SHGetPathFromIDListW(items.get(), longPath) ? Utf8FromWide(longPath) : path;
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
