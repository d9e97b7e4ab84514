#include "FindFiles.h"

#include "winutil/RuntimeLink.h"
#include "winutil/UniqueHandle.h"
#include "winutil/WideText.h"

#include <cwchar>

namespace {

constexpr UINT kQuietErrors = SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX;
using SetThreadErrorModeFn = BOOL WINAPI(DWORD, LPDWORD);

SetThreadErrorModeFn* ThreadErrorModeCall()
{
    try {
        static SetThreadErrorModeFn* const call =
            BindFunctionAs<SetThreadErrorModeFn>("kernel32.dll", "SetThreadErrorMode");
        return call;
    } catch (const std::runtime_error&) {
        return nullptr;
    }
}

bool IsDotEntry(const wchar_t* name)
{
    return wcscmp(name, L".") == 0 || wcscmp(name, L"..") == 0;
}

DWORD Attributes(std::string_view path)
{
    return GetFileAttributesW(WideFromUtf8(path).c_str());
}

} // namespace

std::vector<FoundFile> FindFiles(std::string_view pattern)
{
    std::vector<FoundFile> found;
    WIN32_FIND_DATAW data;
    QuietErrorMode quiet;
    UniqueFind find(FindFirstFileW(WideFromUtf8(pattern).c_str(), &data));
    if (!find)
        return found;
    do {
        if (!IsDotEntry(data.cFileName))
            found.push_back({Utf8FromWide(data.cFileName), data.dwFileAttributes});
    } while (FindNextFileW(find.get(), &data));
    return found;
}

bool PathExists(std::string_view path)
{
    if (path.empty())
        return false;
    WIN32_FIND_DATAW data;
    QuietErrorMode quiet;
    return static_cast<bool>(UniqueFind(FindFirstFileW(WideFromUtf8(path).c_str(), &data)));
}

bool FileExists(std::string_view path)
{
    const DWORD attributes = Attributes(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool DirectoryExists(std::string_view path)
{
    const DWORD attributes = Attributes(path);
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
    return CreateDirectoryW(WideFromUtf8(folder).c_str(), nullptr) || DirectoryExists(folder);
}

QuietErrorMode::QuietErrorMode()
{
    if (SetThreadErrorModeFn* const setMode = ThreadErrorModeCall()) {
        DWORD old = 0;
        perThread_ = setMode(kQuietErrors, &old) != FALSE;
        old_ = old;
    }
    if (!perThread_)
        old_ = SetErrorMode(kQuietErrors);
}

QuietErrorMode::~QuietErrorMode()
{
    if (perThread_)
        ThreadErrorModeCall()(old_, nullptr);
    else
        SetErrorMode(old_);
}
