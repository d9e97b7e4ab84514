#pragma once
// The data streams of a transfer: the body in memory (capped) or in a file.
// A stream belongs to one transfer; the client hands it to its events, which
// may read it but must not keep it past the event.

#include "winutil/UniqueHandle.h"

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <utility>

class TauDataStream {
public:
    virtual ~TauDataStream() = default;
    TauDataStream(const TauDataStream&) = delete;
    TauDataStream& operator=(const TauDataStream&) = delete;

    // False when the bytes could not all be stored; the stream is then unchanged
    // or holds a partial block, and the transfer counts as failed.
    virtual bool Write(const void* data, std::size_t size) = 0;
    // Bytes read from the current position; 0 at the end or on failure.
    virtual std::size_t Read(void* data, std::size_t size) = 0;
    virtual std::int64_t Size() const = 0;
    virtual std::int64_t Position() const = 0;
    virtual bool Seek(std::int64_t position) = 0;
    // Makes what was written durable (a file's data reaches the disk); false,
    // with the system's error in GetLastError(), when it cannot.
    virtual bool Flush() { return true; }

protected:
    TauDataStream() = default;
};

// The body held in memory, refusing to grow past its limit.
class TauMemoryStream : public TauDataStream {
public:
    static constexpr std::size_t DefaultLimit = 1024 * 1024;

    explicit TauMemoryStream(std::size_t limit = DefaultLimit) : limit_(limit) {}

    bool Write(const void* data, std::size_t size) override;
    std::size_t Read(void* data, std::size_t size) override;
    std::int64_t Size() const override { return static_cast<std::int64_t>(bytes_.size()); }
    std::int64_t Position() const override { return static_cast<std::int64_t>(position_); }
    bool Seek(std::int64_t position) override;

    std::size_t Limit() const { return limit_; }
    const std::string& Bytes() const { return bytes_; }

private:
    std::size_t limit_;
    std::string bytes_;
    std::size_t position_ = 0;
};

// The body written to a file that this stream created and keeps open.
class TauFileStream : public TauDataStream {
public:
    // Deletes `path`, creates it anew (hidden when asked; never with the
    // temporary mark, which asks the system to keep the data off the disk);
    // nullptr with the error in GetLastError() when it cannot be created.
    static std::unique_ptr<TauFileStream> Create(const std::string& path, bool hidden);
    // Opens a file that exists (never through a link) to go on writing it
    // after its first `keep` bytes, cutting off whatever follows them;
    // `keep` past its end fails (ERROR_HANDLE_EOF).
    static std::unique_ptr<TauFileStream> Continue(const std::string& path, std::int64_t keep);

    bool Write(const void* data, std::size_t size) override;
    std::size_t Read(void* data, std::size_t size) override;
    std::int64_t Size() const override;
    std::int64_t Position() const override;
    bool Seek(std::int64_t position) override;
    bool Flush() override;

    const std::string& Path() const { return path_; }

private:
    TauFileStream(UniqueFile file, std::string path) : file_(std::move(file)), path_(std::move(path)) {}

    UniqueFile file_;
    std::string path_;
};
