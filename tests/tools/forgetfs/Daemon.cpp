#include "Daemon.h"

#include "ControlSocket.h"
#include "Operations.h"
#include "UnflushedWrites.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <thread>

namespace {

struct FuseDestroyer {
    void operator()(fuse* filesystem) const { fuse_destroy(filesystem); }
};
using UniqueFuse = std::unique_ptr<fuse, FuseDestroyer>;

struct LoopConfigDestroyer {
    void operator()(fuse_loop_config* config) const { fuse_loop_cfg_destroy(config); }
};

std::runtime_error Failure(const std::string& context)
{
    return std::runtime_error(context + ": " + std::strerror(errno));
}

class Daemon {
public:
    Daemon(UniqueFd backing, std::string mountPoint);
    Daemon(const Daemon&) = delete;
    Daemon& operator=(const Daemon&) = delete;

    // See MountAndServe.
    int Run();

private:
    int Serve();
    std::thread StartControl();
    std::string Answer(std::string_view request);
    std::string Cut();
    void InvalidateCached(const std::set<FileId>& files);

    UniqueFd backing_;
    std::string mountPoint_;
    UnflushedWrites unflushed_;
    ControlServer control_;
    UniqueFuse fuse_;
};

UniqueFuse NewFuse(UnflushedWrites& unflushed)
{
    fuse_args args = FUSE_ARGS_INIT(0, nullptr);
    for (const char* arg : {"forgetfs", "-o", "fsname=forgetfs,subtype=forgetfs,default_permissions"})
        fuse_opt_add_arg(&args, arg);
    const fuse_operations operations = ForgetfsOperations();
    UniqueFuse filesystem(fuse_new(&args, &operations, sizeof operations, &unflushed));
    fuse_opt_free_args(&args);
    if (!filesystem)
        throw std::runtime_error("cannot set up the file system");
    return filesystem;
}

// A daemon keeps no terminal or pipe of its starter open.
void DetachStandardStreams()
{
    const UniqueFd null(open("/dev/null", O_RDWR | O_CLOEXEC));
    for (int stream = 0; stream <= 2 && null; ++stream)
        dup2(null.get(), stream);
}

Daemon::Daemon(UniqueFd backing, std::string mountPoint)
    : backing_(std::move(backing)),
      mountPoint_(std::move(mountPoint)),
      control_(ControlSocketOf(mountPoint_)),
      fuse_(NewFuse(unflushed_))
{
}

// The parent waits on a pipe until the daemon is ready; the daemon's end
// closing without a word means it failed and said why on the shared stderr.
int Daemon::Run()
{
    if (fuse_mount(fuse_.get(), mountPoint_.c_str()) != 0)
        throw std::runtime_error("cannot mount at " + mountPoint_);
    int ready[2];
    if (pipe2(ready, O_CLOEXEC) != 0)
        throw Failure("pipe");
    const pid_t child = fork();
    if (child > 0) {
        close(ready[1]);
        char byte = 0;
        _exit(read(ready[0], &byte, 1) == 1 ? 0 : 1);
    }
    close(ready[0]);
    const UniqueFd readyPipe(ready[1]);
    if (child < 0 || setsid() < 0 || fchdir(backing_.get()) != 0) {
        std::fprintf(stderr, "forgetfs: cannot start the daemon: %s\n", std::strerror(errno));
        fuse_unmount(fuse_.get());
        return 1;
    }
    // The kernel has already masked the callers' modes.
    umask(0);
    fuse_session* session = fuse_get_session(fuse_.get());
    fuse_set_signal_handlers(session);
    std::thread control = StartControl();
    DetachStandardStreams();
    // A starter that is gone already leaves the daemon serving all the same.
    const char byte = 1;
    [[maybe_unused]] const ssize_t told = write(readyPipe.get(), &byte, 1);
    const int result = Serve();
    control_.Stop();
    control.join();
    fuse_remove_signal_handlers(session);
    fuse_unmount(fuse_.get());
    return result;
}

int Daemon::Serve()
{
    const std::unique_ptr<fuse_loop_config, LoopConfigDestroyer> config(fuse_loop_cfg_create());
    return fuse_loop_mt(fuse_.get(), config.get()) == 0 ? 0 : 1;
}

// Stop signals go to the loop's threads, which libfuse wakes to end; the
// control thread blocks them.
std::thread Daemon::StartControl()
{
    sigset_t stop, previous;
    sigemptyset(&stop);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&stop, signal);
    pthread_sigmask(SIG_BLOCK, &stop, &previous);
    std::thread control([this] { control_.Serve([this](std::string_view request) { return Answer(request); }); });
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return control;
}

std::string Daemon::Answer(std::string_view request)
{
    if (request == "cut")
        return Cut();
    if (request == "pid")
        return std::to_string(getpid());
    return "error: unknown request " + std::string(request);
}

std::string Daemon::Cut()
{
    const CutResult result = unflushed_.Cut();
    InvalidateCached(result.files);
    return result.error.empty() ? "ok" : "error: " + result.error;
}

// The kernel may hold pages of a cut file, of an open descriptor or a
// mapping; they are dropped so the next read sees the cut content. libfuse
// knows its files by path, so the backing folder is searched for them.
void Daemon::InvalidateCached(const std::set<FileId>& files)
{
    namespace fs = std::filesystem;
    if (files.empty())
        return;
    std::error_code error;
    for (auto entry = fs::recursive_directory_iterator(".", fs::directory_options::skip_permission_denied, error);
         entry != fs::recursive_directory_iterator(); entry.increment(error)) {
        struct stat status {};
        const std::string path = entry->path().string();
        if (lstat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode) && files.count(IdOf(status)))
            fuse_invalidate_path(fuse_.get(), path.c_str() + 1);
    }
}

}  // namespace

int MountAndServe(const std::string& backing, const std::string& mountPoint)
{
    UniqueFd folder(open(backing.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder)
        throw Failure("cannot open " + backing);
    Daemon daemon(std::move(folder), mountPoint);
    return daemon.Run();
}
