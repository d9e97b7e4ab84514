#pragma once
// What a power cut would take from each file: the bytes its writes replaced
// since it was last flushed (fsync or fdatasync). Files are known by the
// backing file's device and inode, whatever name or descriptor a write or a
// flush came through. Every member is safe to call from any thread; writes,
// size changes and cuts exclude one another.
#include "UniqueFd.h"

#include <sys/stat.h>
#include <sys/types.h>

#include <compare>
#include <cstddef>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>

struct FileId {
    dev_t device = 0;
    ino_t inode = 0;
    auto operator<=>(const FileId&) const = default;
};

FileId IdOf(const struct stat& status);

struct CutResult {
    std::set<FileId> files;  // those whose content changed
    std::string error;       // empty when every file was brought back
};

class UnflushedWrites {
public:
    // Writes the bytes at the offset through `fd` (the file opened for reading
    // and writing) once the flushed bytes they replace are kept. Returns the
    // count written or -errno; nothing is written when they cannot be kept.
    long Write(FileId file, int fd, const char* data, std::size_t size, off_t offset);
    // Runs `resize` (returning 0 or -errno), which sets the file's size to
    // `size`, with no write in between. A size is metadata: a cut keeps it.
    int Resize(FileId file, off_t size, const std::function<int()>& resize);
    // Everything written to the file is on the disk now.
    void Flush(FileId file);
    // Drops the file when it has no name left: a cut cannot show it.
    void ForgetIfRemoved(FileId file);
    // Brings every file back to what it held when last flushed, zeros where
    // it was written and never flushed, its size unchanged.
    CutResult Cut();

private:
    struct File {
        UniqueFd fd;
        off_t kept = 0;  // the least size since the flush: bytes past it were never flushed
        std::map<off_t, std::string> replaced;  // flushed bytes by offset, below `kept`, never overlapping
    };

    static int KeepReplaced(File& file, off_t begin, off_t end);
    static std::string Restore(File& file);

    std::mutex mutex_;
    std::map<FileId, File> files_;
};
