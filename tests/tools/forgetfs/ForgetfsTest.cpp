// forgetfs through a real mount: the program is started as the power-cut
// tests start it, and every file is reached through the mount.
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <system_error>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;

enum class Flush { No, Fsync, Fdatasync };

std::system_error Failure(const std::string& context)
{
    return std::system_error(errno, std::generic_category(), context);
}

int RunProgram(std::vector<std::string> args)
{
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t child = 0;
    int status = 0;
    if (posix_spawn(&child, argv[0], nullptr, nullptr, argv.data(), environ) != 0 ||
        waitpid(child, &status, 0) != child)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int Forgetfs(const std::string& command, const std::string& path, const std::string& mountPoint = {})
{
    std::vector<std::string> args{FORGETFS_PROGRAM, command, path};
    if (!mountPoint.empty())
        args.push_back(mountPoint);
    return RunProgram(args);
}

// Never zero, so that a zero in a file read back is one the cut made.
std::string Pattern(std::size_t size, int seed)
{
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 31 + seed) % 251 + 1);
    return bytes;
}

std::string Zeros(std::size_t size)
{
    return std::string(size, '\0');
}

// Says where the bytes part, rather than printing them all.
testing::AssertionResult SameBytes(std::string_view got, std::string_view wanted)
{
    if (got == wanted)
        return testing::AssertionSuccess();
    if (got.size() != wanted.size())
        return testing::AssertionFailure() << got.size() << " bytes, wanted " << wanted.size();
    std::size_t at = 0;
    while (got[at] == wanted[at])
        ++at;
    return testing::AssertionFailure() << "byte " << at << " is " << int(static_cast<unsigned char>(got[at]))
                                       << ", wanted " << int(static_cast<unsigned char>(wanted[at]));
}

void SyncAs(int fd, Flush flush)
{
    if ((flush == Flush::Fsync && fsync(fd) != 0) || (flush == Flush::Fdatasync && fdatasync(fd) != 0))
        throw Failure("flush");
}

void Put(const std::string& path, const std::string& bytes, Flush flush, off_t offset = 0)
{
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0 || pwrite(fd, bytes.data(), bytes.size(), offset) != static_cast<ssize_t>(bytes.size()))
        throw Failure("write " + path);
    SyncAs(fd, flush);
    close(fd);
}

std::string Read(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

std::set<std::string> Listing(const std::string& folder)
{
    std::set<std::string> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder))
        names.insert(entry.path().filename().string());
    return names;
}

// The daemon's process is the one whose command line is the mount command.
pid_t DaemonOf(const std::string& backing, const std::string& mountPoint)
{
    std::string wanted;
    for (const std::string& arg : {std::string(FORGETFS_PROGRAM), std::string("mount"), backing, mountPoint})
        wanted += arg + '\0';
    for (const fs::directory_entry& entry : fs::directory_iterator("/proc")) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") == std::string::npos && Read(entry.path() / "cmdline") == wanted)
            return static_cast<pid_t>(std::stoi(name));
    }
    return 0;
}

std::string WhyNoMount()
{
    struct stat device {};
    if (stat("/dev/fuse", &device) != 0 || !S_ISCHR(device.st_mode))
        return "no /dev/fuse on this machine";
    if (geteuid() != 0)
        return "mounting a file system needs root";
    return {};
}

class ForgetfsTest : public testing::Test {
protected:
    void SetUp() override
    {
        if (const std::string why = WhyNoMount(); !why.empty())
            GTEST_SKIP() << why;
        std::string name = (fs::temp_directory_path() / "forgetfs-test-XXXXXX").string();
        ASSERT_NE(mkdtemp(name.data()), nullptr);
        root_ = name;
        fs::create_directory(Backing());
        fs::create_directory(MountPoint());
        ASSERT_EQ(Forgetfs("mount", Backing(), MountPoint()), 0);
        mounted_ = true;
    }

    // The folders stay when the mount would not go: removing them would
    // reach through it.
    void TearDown() override
    {
        if (mounted_ && Forgetfs("unmount", MountPoint()) != 0)
            FAIL() << "cannot unmount " << MountPoint();
        else if (!root_.empty())
            fs::remove_all(root_);
    }

    std::string Backing() const { return root_ + "/backing"; }
    std::string MountPoint() const { return root_ + "/mount"; }
    std::string At(const std::string& name) const { return MountPoint() + "/" + name; }
    void PowerCut() const { ASSERT_EQ(Forgetfs("cut", MountPoint()), 0); }

    std::string root_;
    bool mounted_ = false;
};

TEST_F(ForgetfsTest, ACutKeepsOnlyWhatWasFlushed)
{
    Put(At("new"), Pattern(10000, 1), Flush::No);
    Put(At("synced"), Pattern(200000, 2), Flush::Fsync);
    Put(At("datasynced"), Pattern(3000, 3), Flush::Fdatasync);
    Put(At("overwritten"), Pattern(8192, 4), Flush::Fsync);
    Put(At("overwritten"), Pattern(6000, 5), Flush::No, /*offset=*/4000);
    Put(At("shrunk"), Pattern(100, 6), Flush::Fsync);
    ASSERT_EQ(truncate(At("shrunk").c_str(), 50), 0);
    Put(At("shrunk"), Pattern(50, 7), Flush::No, /*offset=*/50);
    Put(At("rewritten"), Pattern(5000, 8), Flush::No);
    Put(At("rewritten"), Pattern(5000, 9), Flush::Fsync);
    EXPECT_TRUE(SameBytes(Read(At("overwritten")), Pattern(8192, 4).substr(0, 4000) + Pattern(6000, 5)));

    PowerCut();

    EXPECT_TRUE(SameBytes(Read(At("new")), Zeros(10000))) << "closing a file is no flush";
    EXPECT_TRUE(SameBytes(Read(At("synced")), Pattern(200000, 2)));
    EXPECT_TRUE(SameBytes(Read(At("datasynced")), Pattern(3000, 3)));
    EXPECT_TRUE(SameBytes(Read(At("overwritten")), Pattern(8192, 4) + Zeros(10000 - 8192)));
    EXPECT_TRUE(SameBytes(Read(At("shrunk")), Pattern(100, 6).substr(0, 50) + Zeros(50))) << "a truncation is kept";
    EXPECT_TRUE(SameBytes(Read(At("rewritten")), Pattern(5000, 9)));
}

TEST_F(ForgetfsTest, MetadataIsKeptInTheOrderItWasMade)
{
    Put(At("a"), "old a", Flush::Fsync);
    Put(At("a.new"), "new a", Flush::Fsync);
    ASSERT_EQ(rename(At("a.new").c_str(), At("a").c_str()), 0);
    Put(At("b"), "old b", Flush::Fsync);
    Put(At("b.tmp"), Pattern(5000, 1), Flush::No);
    ASSERT_EQ(rename(At("b.tmp").c_str(), At("b").c_str()), 0);
    ASSERT_EQ(mkdir(At("folder").c_str(), 0755), 0);
    Put(At("folder/inner"), "inner", Flush::Fsync);
    ASSERT_EQ(chmod(At("folder/inner").c_str(), 0600), 0);
    ASSERT_EQ(setxattr(At("a").c_str(), "user.DOSATTRIB", "0x2", 3, 0), 0);
    Put(At("gone"), "gone", Flush::Fsync);
    ASSERT_EQ(unlink(At("gone").c_str()), 0);
    ASSERT_EQ(mkdir(At("empty").c_str(), 0755), 0);
    ASSERT_EQ(rmdir(At("empty").c_str()), 0);

    PowerCut();

    EXPECT_EQ(Read(At("a")), "new a");
    EXPECT_TRUE(SameBytes(Read(At("b")), Zeros(5000))) << "renamed over b without a flush";
    EXPECT_EQ(Read(At("folder/inner")), "inner");
    EXPECT_EQ(Listing(MountPoint()), (std::set<std::string>{"a", "b", "folder"}));
    EXPECT_EQ(Listing(Backing()), Listing(MountPoint()));
    struct stat status {};
    ASSERT_EQ(stat(At("folder/inner").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);
    char attribute[16] = {};
    EXPECT_EQ(getxattr(At("a").c_str(), "user.DOSATTRIB", attribute, sizeof attribute), 3);
    EXPECT_STREQ(attribute, "0x2");
}

TEST_F(ForgetfsTest, AFileIsKnownByItsInodeNotByItsNameOrDescriptor)
{
    const int writer = open(At("first").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_GE(writer, 0);
    ASSERT_EQ(write(writer, "flushed ", 8), 8);
    ASSERT_EQ(rename(At("first").c_str(), At("second").c_str()), 0);
    const int reader = open(At("second").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    ASSERT_EQ(fsync(reader), 0);
    ASSERT_EQ(write(writer, "unflushed", 9), 9);
    close(reader);
    close(writer);
    const int removed = open(At("removed").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_EQ(write(removed, "unflushed", 9), 9);
    ASSERT_EQ(unlink(At("removed").c_str()), 0);

    PowerCut();

    EXPECT_TRUE(SameBytes(Read(At("second")), "flushed " + Zeros(9)));
    char byte = 0;
    EXPECT_EQ(pread(removed, &byte, 1, 0), 1) << "a removed file stays readable while open";
    close(removed);
    EXPECT_EQ(Listing(MountPoint()), std::set<std::string>{"second"});
}

TEST_F(ForgetfsTest, StaysUsableAndShowsTheCutThroughOpenFilesAndMappings)
{
    const std::size_t size = 65536;
    Put(At("mapped"), Pattern(size, 1), Flush::No);
    const int fd = open(At("mapped").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    void* view = mmap(nullptr, size, PROT_READ, MAP_SHARED, fd, 0);
    ASSERT_NE(view, MAP_FAILED);
    const std::string_view mapped(static_cast<const char*>(view), size);
    EXPECT_TRUE(SameBytes(mapped, Pattern(size, 1)));

    PowerCut();

    EXPECT_TRUE(SameBytes(mapped, Zeros(size))) << "the kernel dropped the pages it held";
    std::string bytes(size, 'x');
    EXPECT_EQ(pread(fd, bytes.data(), size, 0), static_cast<ssize_t>(size));
    EXPECT_TRUE(SameBytes(bytes, Zeros(size)));
    munmap(view, size);
    close(fd);

    Put(At("program"), Read("/bin/true"), Flush::Fsync);
    ASSERT_EQ(chmod(At("program").c_str(), 0755), 0);
    EXPECT_EQ(RunProgram({At("program")}), 0) << "a program starts from the mount";
    Put(At("after"), "after", Flush::Fsync);
    Put(At("after.unflushed"), "after", Flush::No);
    const int locked = open(At("after").c_str(), O_RDWR | O_CLOEXEC);
    struct flock lock {};
    lock.l_type = F_WRLCK;
    EXPECT_EQ(fcntl(locked, F_SETLK, &lock), 0) << "POSIX locks are the kernel's";
    close(locked);

    PowerCut();

    EXPECT_EQ(Read(At("after")), "after");
    EXPECT_TRUE(SameBytes(Read(At("after.unflushed")), Zeros(5)));
    EXPECT_EQ(RunProgram({At("program")}), 0);
}

TEST_F(ForgetfsTest, UnmountsAndMountsAgainWhenTheDaemonWasKilled)
{
    Put(At("kept"), "kept", Flush::Fsync);
    const pid_t daemon = DaemonOf(Backing(), MountPoint());
    ASSERT_NE(daemon, 0);
    const int ended = static_cast<int>(syscall(SYS_pidfd_open, daemon, 0));
    ASSERT_EQ(kill(daemon, SIGKILL), 0);
    pollfd wait{ended, POLLIN, 0};
    ASSERT_EQ(poll(&wait, 1, 10000), 1);
    close(ended);
    struct stat status {};
    EXPECT_NE(stat(MountPoint().c_str(), &status), 0);
    EXPECT_EQ(errno, ENOTCONN);

    ASSERT_EQ(Forgetfs("unmount", MountPoint()), 0);
    mounted_ = false;
    EXPECT_TRUE(Listing(MountPoint()).empty());
    ASSERT_EQ(Forgetfs("mount", Backing(), MountPoint()), 0);
    mounted_ = true;
    EXPECT_EQ(Read(At("kept")), "kept");
}

}  // namespace
