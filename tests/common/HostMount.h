#pragma once
// Host folders that Wine tests mount something on (forgetfs, a small tmpfs)
// and reach below C:\ through a link of the host: the shell's quoting, the
// host path of a mount point and the link in the prefix's drive C:.
#include <string>

// A text as one single-quoted word of the host's shell (the command runs
// inside a quoted Windows command line: single quotes only).
std::string HostQuoted(const std::string& text);

// A folder's host path without the trailing slash, which would make a link's
// target and an unmount name the folder's content.
std::string HostFolder(const std::string& windowsFolder);

// Links C:\<name> to the host folder `target`, running the command from
// `folder` (HostOutput); returns the link's host path, empty when Wine maps
// C:\ to no host folder.
std::string LinkBelowDriveC(const std::string& folder, const std::string& name, const std::string& target);

// The host path of any path Wine maps (wine_get_unix_file_name); empty when
// it maps to none.
std::string HostPathOf(const std::string& windowsPath);

// A symbolic link of the host at `link` to `target` (both Windows paths), as
// any program of the user could leave one: Wine shows one to a folder as a
// reparse point. Removed by the host when the object goes, so that no
// clean-up deletes through it. The commands run from the test program's
// folder, which the host sees.
class HostLink {
public:
    HostLink(const std::string& link, const std::string& target);
    ~HostLink();
    HostLink(const HostLink&) = delete;
    HostLink& operator=(const HostLink&) = delete;

private:
    std::string link_;
};

// Runs a host command that mounts something, from `folder`; empty when it
// succeeded, else "the mount failed: " and what it said.
std::string MountProblem(const std::string& folder, const std::string& command);
