#include "SmallDisk.h"

#include "common/HostCommand.h"
#include "common/HostMount.h"
#include "common/AppPaths.h"
#include "winutil/WideText.h"

#include <windows.h>

#include <exception>

SmallDisk::SmallDisk(unsigned kibibytes)
{
    static int counter = 0;
    const std::string id =
        std::to_string(GetCurrentProcessId()) + "-" + std::to_string(GetTickCount()) + "-" + std::to_string(++counter);
    folder_ = GetAppFolder() + "smalldisk-" + id + "\\";
    path_ = "C:\\smalldisk-" + id + "\\";
    for (const std::string& folder : {folder_, MountPoint()})
        CreateDirectoryW(WideFromUtf8(folder).c_str(), nullptr);
    try {
        unavailable_ = Mount(kibibytes);
    } catch (const std::exception& error) {
        unavailable_ = error.what();
    }
    if (!unavailable_.empty())
        unavailable_ = "a small disk is unavailable, because " + unavailable_;
}

// Returns why there is no mount, or nothing.
std::string SmallDisk::Mount(unsigned kibibytes)
{
    const std::string mount =
        "mount -t tmpfs -o size=" + std::to_string(kibibytes) + "k tmpfs " + HostQuoted(HostFolder(MountPoint()));
    if (const std::string problem = MountProblem(folder_, mount); !problem.empty())
        return problem;
    mounted_ = true;
    link_ = LinkBelowDriveC(folder_, path_.substr(3, path_.size() - 4), HostFolder(MountPoint()));
    return link_.empty() ? "Wine maps C:\\ to no host folder" : std::string();
}

SmallDisk::~SmallDisk()
{
    if (mounted_) {
        try {
            HostOutput(folder_, "rm -f " + HostQuoted(link_) + "; umount -l " + HostQuoted(HostFolder(MountPoint())));
        } catch (const std::exception&) {
            // What is left stays for a look at why.
        }
    }
    RemoveDirectoryW(WideFromUtf8(MountPoint()).c_str());
    for (const char* output : {"host-output.txt", "host-done.txt"})
        DeleteFileW(WideFromUtf8(folder_ + output).c_str());
    RemoveDirectoryW(WideFromUtf8(folder_).c_str());
}

void SmallDisk::MakeReadOnly() const
{
    HostOutput(folder_, "mount -o remount,ro " + HostQuoted(HostFolder(MountPoint())));
}
