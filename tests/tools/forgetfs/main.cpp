// forgetfs: a file system for power-cut tests that forgets what was never
// flushed. See README.md.
#include "ControlSocket.h"
#include "Daemon.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/syscall.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

extern char** environ;

namespace {

constexpr const char* Usage =
    "usage: forgetfs mount BACKING MOUNTPOINT   mount BACKING at MOUNTPOINT, return once it serves\n"
    "       forgetfs cut MOUNTPOINT             forget every write never flushed, return once done\n"
    "       forgetfs unmount MOUNTPOINT         unmount, also when the daemon was killed\n";

constexpr int DaemonEndMs = 10000;

std::runtime_error Failure(const std::string& context)
{
    return std::runtime_error(context + ": " + std::strerror(errno));
}

// The folder holding the mount point is resolved, the mount point itself is
// not: a mount whose daemon was killed cannot even be looked at.
std::string MountPointPath(std::string path)
{
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    const std::size_t slash = path.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    char resolved[PATH_MAX];
    if (!realpath(folder.c_str(), resolved))
        throw Failure("cannot find " + folder);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    return std::string(resolved) == "/" ? "/" + name : std::string(resolved) + "/" + name;
}

// A descriptor that becomes readable when the daemon serving the socket has
// ended; empty when none serves it. (Debian 12's glibc declares pidfd_open
// without C linkage.)
UniqueFd DaemonAt(const std::string& socketPath)
{
    try {
        return UniqueFd(static_cast<int>(syscall(SYS_pidfd_open, std::stoi(Ask(socketPath, "pid")), 0)));
    } catch (const std::exception&) {
        return {};
    }
}

// Who may not unmount directly has mounted through the set-uid helper.
bool UnmountThroughHelper(const std::string& mountPoint)
{
    std::vector<char*> argv{const_cast<char*>("fusermount3"), const_cast<char*>("-u"), const_cast<char*>("-z"),
                            const_cast<char*>(mountPoint.c_str()), nullptr};
    pid_t helper = 0;
    int status = 0;
    return posix_spawnp(&helper, "fusermount3", nullptr, nullptr, argv.data(), environ) == 0 &&
           waitpid(helper, &status, 0) == helper && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

int Mount(const std::string& backing, const std::string& mountPoint)
{
    return MountAndServe(backing, MountPointPath(mountPoint));
}

// Pages written through a shared mapping reach the file system only when
// the kernel writes them back; a power cut would lose them, so they are
// written back first and forgotten with the rest.
int Cut(const std::string& mountPoint)
{
    const std::string path = MountPointPath(mountPoint);
    const UniqueFd root(open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!root || syncfs(root.get()) != 0)
        throw Failure("cannot write back " + path);
    const std::string answer = Ask(ControlSocketOf(path), "cut");
    if (answer != "ok")
        throw std::runtime_error("the cut failed: " + (answer.empty() ? "no answer" : answer));
    return 0;
}

// A lazy unmount always succeeds; the daemon ends once nothing is open on
// the file system any more, and is waited for.
int Unmount(const std::string& mountPoint)
{
    const std::string path = MountPointPath(mountPoint);
    const std::string socketPath = ControlSocketOf(path);
    const UniqueFd daemon = DaemonAt(socketPath);
    if (umount2(path.c_str(), MNT_DETACH) != 0 && !(errno == EPERM && UnmountThroughHelper(path)) && !daemon)
        throw Failure("cannot unmount " + path);
    if (!daemon) {
        struct stat status {};
        if (lstat(socketPath.c_str(), &status) == 0 && S_ISSOCK(status.st_mode))
            unlink(socketPath.c_str());
        return 0;
    }
    pollfd ended{daemon.get(), POLLIN, 0};
    if (poll(&ended, 1, DaemonEndMs) != 1)
        throw std::runtime_error("unmounted, but the daemon still serves files open on " + path);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    const std::vector<std::string> args(argv + 1, argv + argc);
    try {
        if (args.size() == 3 && args[0] == "mount")
            return Mount(args[1], args[2]);
        if (args.size() == 2 && args[0] == "cut")
            return Cut(args[1]);
        if (args.size() == 2 && args[0] == "unmount")
            return Unmount(args[1]);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "forgetfs: %s\n", error.what());
        return 1;
    }
    std::fputs(Usage, stderr);
    return 2;
}
