#pragma once
// Mounts the backing folder at the mount point (an absolute path) and serves
// it from a daemon process, with the control socket beside the mount point.
// Throws std::runtime_error when it cannot mount. The calling process then
// ends: with 0 once the daemon answers requests, with 1 when the daemon
// could not start (it says why on stderr). In the daemon the call returns
// its exit code when the file system is unmounted or on SIGTERM, SIGINT or
// SIGHUP, having unmounted it; the socket goes with the daemon.
#include <string>

int MountAndServe(const std::string& backing, const std::string& mountPoint);
