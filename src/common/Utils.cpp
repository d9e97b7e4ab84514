#include "Utils.h"

#include "core/StrCon.h"
#include "winutil/RuntimeLink.h"
#include "winutil/UniqueHandle.h"
#include "winutil/VersionInfo.h"
#include "winutil/WideText.h"

#include <shellapi.h>

#include <cwchar>
#include <iterator>
#include <tuple>
#include <vector>

namespace {

// kernel32's product version as the process loaded it; read once per process.
std::pair<unsigned, unsigned> KernelProductVersion()
{
    static const std::pair<unsigned, unsigned> version = [] {
        const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
        const std::string path = kernel ? ModuleFileName(kernel) : std::string();
        const auto fixed = path.empty() ? std::nullopt : ReadFixedVersion(path);
        if (!fixed)
            return std::pair<unsigned, unsigned>{0, 0};
        return std::pair<unsigned, unsigned>{HIWORD(fixed->dwProductVersionMS), LOWORD(fixed->dwProductVersionMS)};
    }();
    return version;
}

} // namespace

WindowsVersionFacts GetWindowsVersionFacts()
{
    OSVERSIONINFOW info = {};
    info.dwOSVersionInfoSize = sizeof info;
    GetVersionExW(&info);
    WindowsVersionFacts facts;
    facts.nt = info.dwPlatformId == VER_PLATFORM_WIN32_NT;
    facts.major = info.dwMajorVersion;
    facts.minor = info.dwMinorVersion;
    facts.servicePack =
        Utf8FromWide(std::wstring_view(info.szCSDVersion, wcsnlen(info.szCSDVersion, std::size(info.szCSDVersion))));
    if (!facts.nt)
        std::tie(facts.kernelMajor, facts.kernelMinor) = KernelProductVersion();
    return facts;
}

std::uint8_t GetWindowsKind()
{
    return ClassifyWindows(GetWindowsVersionFacts());
}

bool Is64BitWindows()
{
#if defined(_WIN64)
    return true;
#else
    // Systems before XP SP2 lack the call, and are all 32-bit.
    using IsWow64ProcessFn = BOOL WINAPI(HANDLE, PBOOL);
    BOOL wow64 = FALSE;
    try {
        const auto isWow64 = BindFunctionAs<IsWow64ProcessFn>("kernel32.dll", "IsWow64Process");
        return isWow64(GetCurrentProcess(), &wow64) && wow64;
    } catch (const std::runtime_error&) {
        return false;
    }
#endif
}

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

std::string GetEnvVar(std::string_view name)
{
    const std::wstring n = WideFromUtf8(name);
    std::wstring value(1024, L'\0');
    for (;;) {
        const DWORD length = GetEnvironmentVariableW(n.c_str(), value.data(), static_cast<DWORD>(value.size()));
        if (length == 0)
            return {};
        if (length < value.size())
            return Utf8FromWide(std::wstring_view(value.data(), length));
        value.resize(length);  // the needed size, terminating zero included
    }
}

std::string ExpandEnvVars(std::string_view text)
{
    const std::wstring source = WideFromUtf8(text);
    DWORD size = ExpandEnvironmentStringsW(source.c_str(), nullptr, 0);
    for (int attempt = 0; size != 0 && attempt < 4; ++attempt) {
        std::vector<wchar_t> buffer(size + 1);
        const DWORD needed = ExpandEnvironmentStringsW(source.c_str(), buffer.data(), size + 1);
        if (needed == 0)
            break;
        if (needed <= size + 1)
            return Utf8FromWide(buffer.data());
        size = needed;  // the environment changed between the two calls
    }
    return std::string(text);
}

std::vector<std::string> ProgramArguments()
{
    int count = 0;
    wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    const UniqueLocalMemory owner(arguments);
    std::vector<std::string> list;
    for (int i = 0; arguments && i < count; ++i)
        list.push_back(Utf8FromWide(arguments[i]));
    return list;
}

bool IsVersion51OrLater()
{
    const WindowsVersionFacts facts = GetWindowsVersionFacts();
    return facts.major >= 5 && facts.minor >= 1;
}

HANDLE BoundCreateJobObjectW(LPSECURITY_ATTRIBUTES attributes, LPCWSTR name)
{
    static auto* fn = BindFunctionAs<HANDLE WINAPI(LPSECURITY_ATTRIBUTES, LPCWSTR)>("kernel32.dll", "CreateJobObjectW");
    return fn(attributes, name);
}

BOOL BoundAssignProcessToJobObject(HANDLE job, HANDLE process)
{
    static auto* fn = BindFunctionAs<BOOL WINAPI(HANDLE, HANDLE)>("kernel32.dll", "AssignProcessToJobObject");
    return fn(job, process);
}

BOOL BoundSetInformationJobObject(HANDLE job, JOBOBJECTINFOCLASS infoClass, LPVOID info, DWORD length)
{
    static auto* fn = BindFunctionAs<BOOL WINAPI(HANDLE, JOBOBJECTINFOCLASS, LPVOID, DWORD)>(
        "kernel32.dll", "SetInformationJobObject");
    return fn(job, infoClass, info, length);
}
