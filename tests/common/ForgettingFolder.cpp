#include "ForgettingFolder.h"

#include "common/HostCommand.h"
#include "common/HostMount.h"
#include "common/AppPaths.h"
#include "common/Environment.h"
#include "winutil/WideText.h"

#include <windows.h>

#include <exception>

namespace {

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
    const std::string mount =
        HostQuoted(program_) + " mount " + HostQuoted(HostFolder(Backing())) + " " + HostQuoted(HostFolder(MountPoint()));
    if (const std::string problem = MountProblem(folder_, mount); !problem.empty())
        return problem;
    mounted_ = true;
    link_ = LinkBelowDriveC(folder_, path_.substr(3, path_.size() - 4), HostFolder(MountPoint()));
    return link_.empty() ? "Wine maps C:\\ to no host folder" : std::string();
}

ForgettingFolder::~ForgettingFolder()
{
    if (mounted_) {
        try {
            HostOutput(folder_, "rm -f " + HostQuoted(link_) + "; " + HostQuoted(program_) + " unmount " +
                                    HostQuoted(HostFolder(MountPoint())) + " && rm -rf " + HostQuoted(HostFolder(Backing())));
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
    HostOutput(folder_, HostQuoted(program_) + " cut " + HostQuoted(HostFolder(MountPoint())));
}
