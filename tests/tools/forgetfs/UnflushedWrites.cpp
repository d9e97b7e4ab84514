#include "UnflushedWrites.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iterator>
#include <optional>

namespace {

long WriteAll(int fd, const char* data, std::size_t size, off_t offset)
{
    std::size_t done = 0;
    while (done < size) {
        const ssize_t written = pwrite(fd, data + done, size - done, offset + static_cast<off_t>(done));
        if (written < 0)
            return -errno;
        done += static_cast<std::size_t>(written);
    }
    return static_cast<long>(done);
}

// Past the end of the file there is nothing to keep but zeros.
std::optional<std::string> ReadAll(int fd, off_t offset, std::size_t size)
{
    std::string bytes(size, '\0');
    std::size_t done = 0;
    while (done < size) {
        const ssize_t got = pread(fd, bytes.data() + done, size - done, offset + static_cast<off_t>(done));
        if (got < 0)
            return std::nullopt;
        if (got == 0)
            break;
        done += static_cast<std::size_t>(got);
    }
    return bytes;
}

std::string ErrorText(const std::string& context)
{
    return context + ": " + std::strerror(errno);
}

}  // namespace

FileId IdOf(const struct stat& status)
{
    return {status.st_dev, status.st_ino};
}

long UnflushedWrites::Write(FileId id, int fd, const char* data, std::size_t size, off_t offset)
{
    std::lock_guard lock(mutex_);
    auto found = files_.find(id);
    if (found == files_.end()) {
        // A descriptor of its own lets a cut reach the file under any name.
        UniqueFd own(fcntl(fd, F_DUPFD_CLOEXEC, 0));
        struct stat status {};
        if (!own || fstat(fd, &status) != 0)
            return -errno;
        found = files_.emplace(id, File{std::move(own), status.st_size, {}}).first;
    }
    if (const int error = KeepReplaced(found->second, offset, offset + static_cast<off_t>(size)))
        return error;
    return WriteAll(fd, data, size, offset);
}

int UnflushedWrites::Resize(FileId id, off_t size, const std::function<int()>& resize)
{
    std::lock_guard lock(mutex_);
    if (const int error = resize())
        return error;
    const auto found = files_.find(id);
    if (found == files_.end())
        return 0;
    File& file = found->second;
    file.kept = std::min(file.kept, size);
    file.replaced.erase(file.replaced.lower_bound(file.kept), file.replaced.end());
    if (!file.replaced.empty()) {
        auto& [start, bytes] = *std::prev(file.replaced.end());
        bytes.resize(std::min(bytes.size(), static_cast<std::size_t>(file.kept - start)));
    }
    return 0;
}

void UnflushedWrites::Flush(FileId id)
{
    std::lock_guard lock(mutex_);
    files_.erase(id);
}

void UnflushedWrites::ForgetIfRemoved(FileId id)
{
    std::lock_guard lock(mutex_);
    const auto found = files_.find(id);
    struct stat status {};
    if (found != files_.end() && fstat(found->second.fd.get(), &status) == 0 && status.st_nlink == 0)
        files_.erase(found);
}

CutResult UnflushedWrites::Cut()
{
    std::lock_guard lock(mutex_);
    CutResult result;
    for (auto& [id, file] : files_) {
        const std::string error = Restore(file);
        if (result.error.empty())
            result.error = error;
        result.files.insert(id);
    }
    files_.clear();
    return result;
}

// Only the first write to a byte since the flush replaces flushed data.
int UnflushedWrites::KeepReplaced(File& file, off_t begin, off_t end)
{
    end = std::min(end, file.kept);
    auto next = file.replaced.upper_bound(begin);
    if (next != file.replaced.begin()) {
        const auto& [start, bytes] = *std::prev(next);
        begin = std::max(begin, start + static_cast<off_t>(bytes.size()));
    }
    while (begin < end) {
        const off_t gapEnd = next == file.replaced.end() ? end : std::min(end, next->first);
        if (begin < gapEnd) {
            std::optional<std::string> bytes = ReadAll(file.fd.get(), begin, static_cast<std::size_t>(gapEnd - begin));
            if (!bytes)
                return -errno;
            file.replaced.emplace_hint(next, begin, std::move(*bytes));
        }
        if (next == file.replaced.end())
            break;
        begin = std::max(begin, next->first + static_cast<off_t>(next->second.size()));
        ++next;
    }
    return 0;
}

// Cutting to the kept size and growing again zeros the never-flushed tail in
// two calls, however long it is.
std::string UnflushedWrites::Restore(File& file)
{
    const int fd = file.fd.get();
    struct stat status {};
    if (fstat(fd, &status) != 0)
        return ErrorText("fstat");
    for (const auto& [offset, bytes] : file.replaced) {
        if (offset >= status.st_size)
            break;
        const std::size_t size = std::min(bytes.size(), static_cast<std::size_t>(status.st_size - offset));
        if (WriteAll(fd, bytes.data(), size, offset) < 0)
            return ErrorText("pwrite");
    }
    if (file.kept < status.st_size && (ftruncate(fd, file.kept) != 0 || ftruncate(fd, status.st_size) != 0))
        return ErrorText("ftruncate");
    return {};
}
