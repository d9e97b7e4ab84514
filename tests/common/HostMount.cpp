#include "HostMount.h"

#include "common/HostCommand.h"
#include "common/AppPaths.h"
#include "winutil/RuntimeLink.h"
#include "winutil/WideText.h"

#include <windows.h>

std::string HostPathOf(const std::string& windowsPath)
{
    const auto unixName = BindFunctionAs<char*(const wchar_t*)>("kernel32.dll", "wine_get_unix_file_name");
    char* path = unixName(WideFromUtf8(windowsPath).c_str());
    if (!path)
        return {};
    std::string result(path);
    HeapFree(GetProcessHeap(), 0, path);
    return result;
}

HostLink::HostLink(const std::string& link, const std::string& target) : link_(HostPathOf(link))
{
    HostOutput(GetAppFolder(), "ln -s " + HostQuoted(HostPathOf(target)) + " " + HostQuoted(link_));
}

HostLink::~HostLink()
{
    HostOutput(GetAppFolder(), "rm -f " + HostQuoted(link_));
}

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
    // Wine's own mapping: C:\ is the prefix's drive_c, wherever the prefix is.
    const std::string driveC = HostPathOf("C:\\");
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
