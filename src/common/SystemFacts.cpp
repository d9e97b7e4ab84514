#include "SystemFacts.h"

#include "common/AppPaths.h"
#include "winutil/RuntimeLink.h"
#include "winutil/VersionInfo.h"
#include "winutil/WideText.h"

#include <windows.h>

#include <cwchar>
#include <iterator>
#include <tuple>

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

bool IsVersion51OrLater()
{
    const WindowsVersionFacts facts = GetWindowsVersionFacts();
    return facts.major >= 5 && facts.minor >= 1;
}
