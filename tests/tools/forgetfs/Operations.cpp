#include "Operations.h"

#include "UnflushedWrites.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <memory>
#include <optional>

namespace {

struct OpenFile {
    UniqueFd fd;
    FileId id;
};

UnflushedWrites& Unflushed()
{
    return *static_cast<UnflushedWrites*>(fuse_get_context()->private_data);
}

OpenFile& FileOf(const fuse_file_info* info)
{
    return *reinterpret_cast<OpenFile*>(info->fh);
}

// libfuse's paths start with "/"; the working folder is the backing folder.
const char* Relative(const char* path)
{
    return path[1] ? path + 1 : ".";
}

int Result(int returned)
{
    return returned < 0 ? -errno : 0;
}

std::optional<FileId> IdAt(const char* relative)
{
    struct stat status {};
    if (fstatat(AT_FDCWD, relative, &status, AT_SYMLINK_NOFOLLOW) != 0)
        return std::nullopt;
    return IdOf(status);
}

void ForgetIfRemoved(const std::optional<FileId>& id)
{
    if (id)
        Unflushed().ForgetIfRemoved(*id);
}

// Appends are placed by the kernel, which sends their offsets; a write reads
// the bytes it replaces first, so even a write-only file is opened for both;
// a truncation on open is a size change like any other.
int OpenBacking(const char* path, int flags, mode_t mode, fuse_file_info* info)
{
    const bool truncate = flags & O_TRUNC;
    flags &= ~(O_APPEND | O_TRUNC | O_DIRECT);
    if ((flags & O_ACCMODE) == O_WRONLY)
        flags = (flags & ~O_ACCMODE) | O_RDWR;
    UniqueFd fd(open(Relative(path), flags | O_CLOEXEC, mode));
    struct stat status {};
    if (!fd || fstat(fd.get(), &status) != 0)
        return -errno;
    auto file = std::make_unique<OpenFile>(OpenFile{std::move(fd), IdOf(status)});
    if (truncate) {
        const int fdNumber = file->fd.get();
        if (const int error = Unflushed().Resize(file->id, 0, [fdNumber] { return Result(ftruncate(fdNumber, 0)); }))
            return error;
    }
    info->fh = reinterpret_cast<uint64_t>(file.release());
    return 0;
}

void* Init(fuse_conn_info*, fuse_config* config)
{
    config->use_ino = 1;
    // A removed file that is still open keeps no hidden name a program could list.
    config->hard_remove = 1;
    config->nullpath_ok = 1;
    return fuse_get_context()->private_data;
}

int GetAttr(const char* path, struct stat* status, fuse_file_info* info)
{
    if (info)
        return Result(fstat(FileOf(info).fd.get(), status));
    return Result(fstatat(AT_FDCWD, Relative(path), status, AT_SYMLINK_NOFOLLOW));
}

int ReadLink(const char* path, char* buffer, std::size_t size)
{
    const ssize_t length = readlink(Relative(path), buffer, size - 1);
    if (length < 0)
        return -errno;
    buffer[length] = '\0';
    return 0;
}

int MakeFolder(const char* path, mode_t mode)
{
    return Result(mkdir(Relative(path), mode));
}

int Unlink(const char* path)
{
    const std::optional<FileId> id = IdAt(Relative(path));
    if (unlink(Relative(path)) != 0)
        return -errno;
    ForgetIfRemoved(id);
    return 0;
}

int RemoveFolder(const char* path)
{
    return Result(rmdir(Relative(path)));
}

int SymbolicLink(const char* target, const char* path)
{
    return Result(symlink(target, Relative(path)));
}

int Rename(const char* from, const char* to, unsigned int flags)
{
    const std::optional<FileId> replaced = flags & RENAME_EXCHANGE ? std::nullopt : IdAt(Relative(to));
    if (renameat2(AT_FDCWD, Relative(from), AT_FDCWD, Relative(to), flags) != 0)
        return -errno;
    ForgetIfRemoved(replaced);
    return 0;
}

int Link(const char* from, const char* to)
{
    return Result(link(Relative(from), Relative(to)));
}

int ChangeMode(const char* path, mode_t mode, fuse_file_info* info)
{
    if (info)
        return Result(fchmod(FileOf(info).fd.get(), mode));
    return Result(chmod(Relative(path), mode));
}

int ChangeOwner(const char* path, uid_t user, gid_t group, fuse_file_info* info)
{
    if (info)
        return Result(fchown(FileOf(info).fd.get(), user, group));
    return Result(lchown(Relative(path), user, group));
}

int Truncate(const char* path, off_t size, fuse_file_info* info)
{
    if (info) {
        const OpenFile& file = FileOf(info);
        return Unflushed().Resize(file.id, size, [&file, size] { return Result(ftruncate(file.fd.get(), size)); });
    }
    const std::optional<FileId> id = IdAt(Relative(path));
    if (!id)
        return -errno;
    return Unflushed().Resize(*id, size, [path, size] { return Result(truncate(Relative(path), size)); });
}

int Open(const char* path, fuse_file_info* info)
{
    return OpenBacking(path, info->flags, 0, info);
}

int Create(const char* path, mode_t mode, fuse_file_info* info)
{
    return OpenBacking(path, info->flags | O_CREAT, mode, info);
}

int Read(const char*, char* buffer, std::size_t size, off_t offset, fuse_file_info* info)
{
    const ssize_t got = pread(FileOf(info).fd.get(), buffer, size, offset);
    return got < 0 ? -errno : static_cast<int>(got);
}

int Write(const char*, const char* data, std::size_t size, off_t offset, fuse_file_info* info)
{
    const OpenFile& file = FileOf(info);
    return static_cast<int>(Unflushed().Write(file.id, file.fd.get(), data, size, offset));
}

int StatFs(const char*, struct statvfs* status)
{
    return Result(statvfs(".", status));
}

int Release(const char*, fuse_file_info* info)
{
    const std::unique_ptr<OpenFile> file(&FileOf(info));
    Unflushed().ForgetIfRemoved(file->id);
    return 0;
}

int Sync(const char*, int, fuse_file_info* info)
{
    Unflushed().Flush(FileOf(info).id);
    return 0;
}

int SetXattr(const char* path, const char* name, const char* value, std::size_t size, int flags)
{
    return Result(lsetxattr(Relative(path), name, value, size, flags));
}

int GetXattr(const char* path, const char* name, char* value, std::size_t size)
{
    const ssize_t length = lgetxattr(Relative(path), name, value, size);
    return length < 0 ? -errno : static_cast<int>(length);
}

int ListXattr(const char* path, char* list, std::size_t size)
{
    const ssize_t length = llistxattr(Relative(path), list, size);
    return length < 0 ? -errno : static_cast<int>(length);
}

int RemoveXattr(const char* path, const char* name)
{
    return Result(lremovexattr(Relative(path), name));
}

int OpenFolder(const char* path, fuse_file_info* info)
{
    DIR* folder = opendir(Relative(path));
    if (!folder)
        return -errno;
    info->fh = reinterpret_cast<uint64_t>(folder);
    return 0;
}

// Offsets of zero throughout: libfuse then takes the whole listing at once.
int ReadFolder(const char*, void* buffer, fuse_fill_dir_t fill, off_t offset, fuse_file_info* info,
               fuse_readdir_flags)
{
    DIR* folder = reinterpret_cast<DIR*>(info->fh);
    if (offset == 0)
        rewinddir(folder);
    for (;;) {
        errno = 0;
        const dirent* entry = readdir(folder);
        if (!entry)
            return -errno;
        struct stat status {};
        status.st_ino = entry->d_ino;
        status.st_mode = DTTOIF(entry->d_type);
        if (fill(buffer, entry->d_name, &status, 0, fuse_fill_dir_flags{}) != 0)
            return 0;
    }
}

int ReleaseFolder(const char*, fuse_file_info* info)
{
    closedir(reinterpret_cast<DIR*>(info->fh));
    return 0;
}

int SetTimes(const char* path, const timespec times[2], fuse_file_info* info)
{
    if (info)
        return Result(futimens(FileOf(info).fd.get(), times));
    return Result(utimensat(AT_FDCWD, Relative(path), times, AT_SYMLINK_NOFOLLOW));
}

// Allocation leaves the content as it was; punching holes would change it.
int Allocate(const char*, int mode, off_t offset, off_t length, fuse_file_info* info)
{
    if (mode & ~FALLOC_FL_KEEP_SIZE)
        return -EOPNOTSUPP;
    return Result(fallocate(FileOf(info).fd.get(), mode, offset, length));
}

}  // namespace

// No flush operation: closing a file is no flush to the disk. No lock
// operations: the kernel keeps the locks itself.
fuse_operations ForgetfsOperations()
{
    fuse_operations operations{};
    operations.init = Init;
    operations.getattr = GetAttr;
    operations.readlink = ReadLink;
    operations.mkdir = MakeFolder;
    operations.unlink = Unlink;
    operations.rmdir = RemoveFolder;
    operations.symlink = SymbolicLink;
    operations.rename = Rename;
    operations.link = Link;
    operations.chmod = ChangeMode;
    operations.chown = ChangeOwner;
    operations.truncate = Truncate;
    operations.open = Open;
    operations.create = Create;
    operations.read = Read;
    operations.write = Write;
    operations.statfs = StatFs;
    operations.release = Release;
    operations.fsync = Sync;
    operations.setxattr = SetXattr;
    operations.getxattr = GetXattr;
    operations.listxattr = ListXattr;
    operations.removexattr = RemoveXattr;
    operations.opendir = OpenFolder;
    operations.readdir = ReadFolder;
    operations.releasedir = ReleaseFolder;
    operations.utimens = SetTimes;
    operations.fallocate = Allocate;
    return operations;
}
