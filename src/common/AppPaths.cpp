#include "AppPaths.h"

#include "core/StrCon.h"
#include "winutil/WideText.h"

std::string ModuleFileName(HMODULE module)
{
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0)
            return {};
        if (length < path.size())
            return Utf8FromWide(std::wstring_view(path.data(), length));
        path.resize(path.size() * 2);
    }
}

std::string GetAppPath()
{
    return ModuleFileName(nullptr);
}

std::string GetAppFolder()
{
    const std::string path = GetAppPath();
    return path.substr(0, path.rfind('\\') + 1);
}

std::string GetWindowsDir()
{
    const UINT size = GetWindowsDirectoryW(nullptr, 0);
    if (size == 0)
        return {};
    std::wstring dir(size, L'\0');
    const UINT length = GetWindowsDirectoryW(dir.data(), size);
    if (length == 0 || length >= size)
        return {};
    return RemoveBackslash(Utf8FromWide(std::wstring_view(dir.data(), length)));
}

std::string GetTempDir()
{
    std::wstring dir(MAX_PATH + 1, L'\0');
    const DWORD length = GetTempPathW(static_cast<DWORD>(dir.size()), dir.data());
    if (length == 0 || length >= dir.size())
        return {};
    return Utf8FromWide(std::wstring_view(dir.data(), length));
}
