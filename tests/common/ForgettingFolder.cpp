#include "ForgettingFolder.h"

#include "common/HostCommand.h"
#include "common/Utils.h"
#include "winutil/RuntimeLink.h"
#include "winutil/WideText.h"

#include <windows.h>

#include <exception>

namespace {

// The command runs inside a quoted Windows command line: single quotes only.
std::string Quoted(const std::string& text)
{
    std::string quoted = "'";
    for (const char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// A mount point's host path without the trailing slash, which would make the
// link's target and the unmount name the folder's content.
std::string HostFolder(const std::string& windowsFolder)
{
    const std::string path = HostPath(windowsFolder);
    return path.substr(0, path.size() - 1);
}

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

void RemoveFolder(const std::string& path)
{
    RemoveDirectoryW(WideFromUtf8(path).c_str());
}

}  // namespace

ForgettingFolder::ForgettingFolder()
{
    static int counter = 0;
    const std::string id =
        std::to_string(GetCurrentProcessId()) + "-" + std::to_string(GetTickCount()) + "-" + std::to_string(++counter);
    folder_ = GetAppFolder() + "forgetfs-" + id + "\\";
    path_ = "C:\\forgetfs-" + id + "\\";
    program_ = GetEnvVar("KELDORA_FORGETFS");
    for (const std::string& folder : {folder_, Backing(), MountPoint()})
        CreateDirectoryW(WideFromUtf8(folder).c_str(), nullptr);
    try {
        unavailable_ = Mount();
    } catch (const std::exception& error) {
        unavailable_ = error.what();
    }
    if (!unavailable_.empty())
        unavailable_ = "forgetfs is unavailable, because " + unavailable_;
}

// Returns why there is no mount, or nothing.
std::string ForgettingFolder::Mount()
{
    if (program_.empty())
        return "KELDORA_FORGETFS names no program (the host path of the native build's forgetfs)";
    if (HostOutput(folder_, "[ -c /dev/fuse ] && echo yes || echo no") != "yes\n")
        return "this machine has no /dev/fuse";
    const std::string driveC = HostPathOfDriveC();
    if (driveC.empty())
        return "Wine maps C:\\ to no host folder";
    const std::string mount =
        Quoted(program_) + " mount " + Quoted(HostFolder(Backing())) + " " + Quoted(HostFolder(MountPoint()));
    const std::string mounted = HostOutput(folder_, mount + " 2>&1 && echo mounted || true");
    if (mounted != "mounted\n")
        return "the mount failed: " + mounted.substr(0, mounted.find_last_not_of("\r\n") + 1);
    mounted_ = true;
    link_ = driveC + (driveC.back() == '/' ? "" : "/") + path_.substr(3, path_.size() - 4);
    HostOutput(folder_, "ln -s " + Quoted(HostFolder(MountPoint())) + " " + Quoted(link_));
    return {};
}

ForgettingFolder::~ForgettingFolder()
{
    if (mounted_) {
        try {
            HostOutput(folder_, "rm -f " + Quoted(link_) + "; " + Quoted(program_) + " unmount " +
                                    Quoted(HostFolder(MountPoint())) + " && rm -rf " + Quoted(HostFolder(Backing())));
        } catch (const std::exception&) {
            // What is left stays for a look at why.
        }
    }
    RemoveFolder(MountPoint());
    RemoveFolder(Backing());
    for (const char* output : {"host-output.txt", "host-done.txt"})
        DeleteFileW(WideFromUtf8(folder_ + output).c_str());
    RemoveFolder(folder_);
}

void ForgettingFolder::PowerCut() const
{
    HostOutput(folder_, Quoted(program_) + " cut " + Quoted(HostFolder(MountPoint())));
}
