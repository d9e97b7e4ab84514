#pragma once
// A folder below C:\ on a small tmpfs of the host, for tests of a full disk
// and a read-only folder under Wine: its mount point is made beside the test
// program and C:\smalldisk-<id> is a link of the host to it (HostMount.h).
// The destructor removes the link and unmounts. The constructor never
// throws: a test asks Unavailable() first and skips with that text.
#include <string>

class SmallDisk {
public:
    explicit SmallDisk(unsigned kibibytes);
    ~SmallDisk();
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;

    // "a small disk is unavailable, because ..." when there is no mount, else empty.
    const std::string& Unavailable() const { return unavailable_; }
    // The folder below C:\, ending in "\".
    const std::string& Path() const { return path_; }
    // Mounts the disk again read-only; throws std::runtime_error on failure.
    void MakeReadOnly() const;

private:
    std::string Mount(unsigned kibibytes);
    std::string MountPoint() const { return folder_ + "mount\\"; }

    std::string folder_;  // beside the test program, holding the mount point
    std::string link_;    // host path of the link in the prefix's drive C:
    std::string path_;
    std::string unavailable_;
    bool mounted_ = false;
};
