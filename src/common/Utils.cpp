#include "Utils.h"

#include "core/StrCon.h"
#include "winutil/RuntimeLink.h"
#include "winutil/VersionInfo.h"

#include <cstring>
#include <tuple>
#include <vector>

namespace {

// kernel32's product version as the process loaded it; read once per process.
std::pair<unsigned, unsigned> KernelProductVersion()
{
    static const std::pair<unsigned, unsigned> version = [] {
        char path[MAX_PATH + 1] = {};
        HMODULE kernel = GetModuleHandleA("kernel32.dll");
        if (!kernel || !GetModuleFileNameA(kernel, path, MAX_PATH))
            return std::pair<unsigned, unsigned>{0, 0};
        const auto fixed = ReadFixedVersion(path);
        if (!fixed)
            return std::pair<unsigned, unsigned>{0, 0};
        return std::pair<unsigned, unsigned>{HIWORD(fixed->dwProductVersionMS), LOWORD(fixed->dwProductVersionMS)};
    }();
    return version;
}

} // namespace

WindowsVersionFacts GetWindowsVersionFacts()
{
    OSVERSIONINFOA info = {};
    info.dwOSVersionInfoSize = sizeof info;
    GetVersionExA(&info);
    WindowsVersionFacts facts;
    facts.nt = info.dwPlatformId == VER_PLATFORM_WIN32_NT;
    facts.major = info.dwMajorVersion;
    facts.minor = info.dwMinorVersion;
    facts.servicePack = std::string(info.szCSDVersion, strnlen(info.szCSDVersion, sizeof info.szCSDVersion));
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

std::string GetAppPath()
{
    std::string path(MAX_PATH, '\0');
    for (;;) {
        const DWORD length = GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0)
            return {};
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

std::string GetAppFolder()
{
    const std::string path = GetAppPath();
    return path.substr(0, path.rfind('\\') + 1);
}

std::string GetWindowsDir()
{
    const UINT size = GetWindowsDirectoryA(nullptr, 0);
    if (size == 0)
        return {};
    std::string dir(size, '\0');
    const UINT length = GetWindowsDirectoryA(dir.data(), size);
    if (length == 0 || length >= size)
        return {};
    dir.resize(length);
    return RemoveBackslash(dir);
}

std::string GetEnvVar(std::string_view name)
{
    const std::string n(name);
    std::string value(1024, '\0');
    for (;;) {
        const DWORD length = GetEnvironmentVariableA(n.c_str(), value.data(), static_cast<DWORD>(value.size()));
        if (length == 0)
            return {};
        if (length < value.size()) {
            value.resize(length);
            return value;
        }
        value.resize(length);  // the needed size, terminating zero included
    }
}

std::string ExpandEnvVars(std::string_view text)
{
    const std::string source(text);
    DWORD size = ExpandEnvironmentStringsA(source.c_str(), nullptr, 0);
    for (int attempt = 0; size != 0 && attempt < 4; ++attempt) {
        std::vector<char> buffer(size + 1);
        const DWORD needed = ExpandEnvironmentStringsA(source.c_str(), buffer.data(), size + 1);
        if (needed == 0)
            break;
        if (needed <= size + 1)
            return std::string(buffer.data());
        size = needed;  // the environment changed between the two calls
    }
    return source;
}

bool IsVersion51OrLater()
{
    const WindowsVersionFacts facts = GetWindowsVersionFacts();
    return facts.major >= 5 && facts.minor >= 1;
}

HANDLE BoundCreateJobObjectA(LPSECURITY_ATTRIBUTES attributes, LPCSTR name)
{
    static auto* fn = BindFunctionAs<HANDLE WINAPI(LPSECURITY_ATTRIBUTES, LPCSTR)>("kernel32.dll", "CreateJobObjectA");
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
