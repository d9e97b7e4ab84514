#include "HostMount.h"

#include "common/HostCommand.h"
#include "winutil/RuntimeLink.h"

#include <windows.h>

namespace {

// Wine's own mapping: C:\ is the prefix's drive_c, wherever the prefix is.
std::string HostPathOfDriveC()
{
    const auto unixName = BindFunctionAs<char*(const wchar_t*)>("kernel32.dll", "wine_get_unix_file_name");
    char* path = unixName(L"C:\\");
    if (!path)
        return {};
    std::string result(path);
    HeapFree(GetProcessHeap(), 0, path);
    return result;
}

}  // namespace

std::string HostQuoted(const std::string& text)
{
    std::string quoted = "'";
    for (const char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

std::string HostFolder(const std::string& windowsFolder)
{
    const std::string path = HostPath(windowsFolder);
    return path.substr(0, path.size() - 1);
}

std::string LinkBelowDriveC(const std::string& folder, const std::string& name, const std::string& target)
{
    const std::string driveC = HostPathOfDriveC();
    if (driveC.empty())
        return {};
    const std::string link = driveC + (driveC.back() == '/' ? "" : "/") + name;
    HostOutput(folder, "ln -s " + HostQuoted(target) + " " + HostQuoted(link));
    return link;
}

std::string MountProblem(const std::string& folder, const std::string& command)
{
    const std::string mounted = HostOutput(folder, command + " 2>&1 && echo mounted || true");
    if (mounted == "mounted\n")
        return {};
    return "the mount failed: " + mounted.substr(0, mounted.find_last_not_of("\r\n") + 1);
}
