#include "Streams.h"

#include "winutil/WideText.h"

#include <algorithm>
#include <cstring>
#include <memory>

bool TauMemoryStream::Write(const void* data, std::size_t size)
{
    if (size > limit_ || position_ > limit_ - size)
        return false;
    if (position_ + size > bytes_.size())
        bytes_.resize(position_ + size);
    std::memcpy(bytes_.data() + position_, data, size);
    position_ += size;
    return true;
}

std::size_t TauMemoryStream::Read(void* data, std::size_t size)
{
    const std::size_t n = std::min(size, bytes_.size() - position_);
    std::memcpy(data, bytes_.data() + position_, n);
    position_ += n;
    return n;
}

bool TauMemoryStream::Seek(std::int64_t position)
{
    if (position < 0 || static_cast<std::uint64_t>(position) > bytes_.size())
        return false;
    position_ = static_cast<std::size_t>(position);
    return true;
}

std::unique_ptr<TauFileStream> TauFileStream::Create(const std::string& path, bool hidden)
{
    DeleteFileW(WideFromUtf8(path).c_str());
    // Created new: a link planted under the name after the delete fails the
    // download instead of receiving it.
    const DWORD attributes = hidden ? FILE_ATTRIBUTE_HIDDEN : FILE_ATTRIBUTE_NORMAL;
    UniqueFile file(CreateFileW(WideFromUtf8(path).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                CREATE_NEW, attributes, nullptr));
    if (!file)
        return nullptr;
    return std::unique_ptr<TauFileStream>(new TauFileStream(std::move(file), path));
}

std::unique_ptr<TauFileStream> TauFileStream::Continue(const std::string& path, std::int64_t keep)
{
    UniqueFile file(CreateFileW(WideFromUtf8(path).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file)
        return nullptr;
    // Only a file of its own is written on: a link or another name of a
    // file planted as the partial would make the download overwrite it.
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(file.get(), &info))
        return nullptr;
    if ((info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) ||
        info.nNumberOfLinks != 1) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.get(), &size))
        return nullptr;
    if (size.QuadPart < keep) {
        SetLastError(ERROR_HANDLE_EOF);
        return nullptr;
    }
    LARGE_INTEGER at{};
    at.QuadPart = keep;
    if (!SetFilePointerEx(file.get(), at, nullptr, FILE_BEGIN) || !SetEndOfFile(file.get()))
        return nullptr;
    return std::unique_ptr<TauFileStream>(new TauFileStream(std::move(file), path));
}

bool TauFileStream::Write(const void* data, std::size_t size)
{
    const char* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
        DWORD written = 0;
        if (!WriteFile(file_.get(), bytes, chunk, &written, nullptr) || written == 0)
            return false;
        bytes += written;
        size -= written;
    }
    return true;
}

std::size_t TauFileStream::Read(void* data, std::size_t size)
{
    DWORD read = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
    return ReadFile(file_.get(), data, chunk, &read, nullptr) ? read : 0;
}

bool TauFileStream::Flush()
{
    return FlushFileBuffers(file_.get()) != FALSE;
}

// The 32-bit halves keep these working on the oldest systems, which lack the
// 64-bit forms.
std::int64_t TauFileStream::Size() const
{
    DWORD high = 0;
    SetLastError(NO_ERROR);
    const DWORD low = GetFileSize(file_.get(), &high);
    if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR)
        return 0;
    return (static_cast<std::int64_t>(high) << 32) | low;
}

std::int64_t TauFileStream::Position() const
{
    LONG high = 0;
    SetLastError(NO_ERROR);
    const DWORD low = SetFilePointer(file_.get(), 0, &high, FILE_CURRENT);
    if (low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR)
        return 0;
    return (static_cast<std::int64_t>(high) << 32) | low;
}

bool TauFileStream::Seek(std::int64_t position)
{
    if (position < 0)
        return false;
    LONG high = static_cast<LONG>(position >> 32);
    SetLastError(NO_ERROR);
    const DWORD low = SetFilePointer(file_.get(), static_cast<LONG>(position & 0xFFFFFFFF), &high, FILE_BEGIN);
    return low != INVALID_SET_FILE_POINTER || GetLastError() == NO_ERROR;
}
