#pragma once
// A folder below C:\ on forgetfs (tests/tools/forgetfs), the host's file
// system that forgets what was never flushed, for power-cut tests under Wine.
// The host program is the one the environment variable KELDORA_FORGETFS
// names. Its backing folder and mount point are made in a folder of their own
// beside the test program; C:\forgetfs-<id> is a symbolic link of the host to
// the mount point. The destructor removes the link, unmounts and deletes the
// folders. The constructor never throws: a test asks Unavailable() first and
// skips with that text when it is not empty.
#include <string>

class ForgettingFolder {
public:
    ForgettingFolder();
    ~ForgettingFolder();
    ForgettingFolder(const ForgettingFolder&) = delete;
    ForgettingFolder& operator=(const ForgettingFolder&) = delete;

    // "forgetfs is unavailable, because ..." when there is no mount, else empty.
    const std::string& Unavailable() const { return unavailable_; }
    // The folder below C:\, ending in "\".
    const std::string& Path() const { return path_; }
    // Every file in the folder loses what it never flushed, as at a power cut;
    // returns once the cut is complete. The caller has ended every program
    // running from the folder first. Throws std::runtime_error on failure.
    void PowerCut() const;

private:
    std::string Mount();
    std::string Backing() const { return folder_ + "backing\\"; }
    std::string MountPoint() const { return folder_ + "mount\\"; }

    std::string program_;  // host path
    std::string folder_;   // beside the test program, holding the backing folder and the mount point
    std::string link_;     // host path of the link in the prefix's drive C:
    std::string path_;
    std::string unavailable_;
    bool mounted_ = false;
};
