#include "auRoadDecode.h"

#include "delta/DeltaDecoder.h"
#include "http/FileSha256.h"
#include "http/Streams.h"
#include "winutil/ErrorText.h"
#include "winutil/WideText.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <new>
#include <span>
#include <vector>

UniqueFile OpenInstalledFile(const std::string& path)
{
    UniqueFile file(CreateFileW(WideFromUtf8(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    BY_HANDLE_FILE_INFORMATION info{};
    if (!file || !GetFileInformationByHandle(file.get(), &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return UniqueFile();
    return file;
}

namespace {

// The patch's source, mapped (read, not copied) or read, and hashed from
// these very bytes: the installed file may have changed since it was first
// hashed. The handle lets no one else open it for writing meanwhile; a view
// mapped for writing before stays writable, and the result's digest check
// refuses what such a change gives.
struct TPatchSource {
    UniqueFile file;
    UniqueKernelHandle mapping;
    UniqueView view;
    std::unique_ptr<std::uint8_t[]> read;  // a file that is not mapped
    std::span<const std::uint8_t> bytes;
};

// A mapped file's read error (a network drive gone, a removable disk pulled)
// is an exception in whoever touches the page, not a failed call: only a file
// of a local, fixed disk is mapped. The handle's own volume is asked, as every
// system since the first NT answers whatever the file's path.
bool OnFixedDisk(HANDLE file)
{
    struct DeviceInformation {
        ULONG deviceType;
        ULONG characteristics;
    };
    struct IoStatus {
        union {
            LONG status;
            void* pointer;
        };
        ULONG_PTR information;
    };
    using Fn = LONG NTAPI(HANDLE, IoStatus*, void*, ULONG, int);
    const auto query = reinterpret_cast<Fn*>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryVolumeInformationFile")));
    constexpr int kFileFsDeviceInformation = 4;
    constexpr ULONG kDisk = 0x7, kDiskFileSystem = 0x8, kRemovableMedia = 0x1, kRemoteDevice = 0x10;
    DeviceInformation device{};
    IoStatus status{};
    return query && query(file, &status, &device, sizeof device, kFileFsDeviceInformation) >= 0 &&
           (device.deviceType == kDisk || device.deviceType == kDiskFileSystem) &&
           !(device.characteristics & (kRemovableMedia | kRemoteDevice));
}

// Too little memory for it is a source that cannot be read, as a file too large is.
bool ReadSource(TPatchSource& source, std::size_t size)
{
    source.read.reset(new (std::nothrow) std::uint8_t[size]);
    if (!source.read)
        return false;
    for (std::size_t at = 0; at < size;) {
        DWORD got = 0;
        const DWORD asked = static_cast<DWORD>(std::min<std::size_t>(size - at, 1u << 24));
        if (!ReadFile(source.file.get(), source.read.get() + at, asked, &got, nullptr) || got == 0)
            return false;
        at += got;
    }
    source.bytes = {source.read.get(), size};
    return true;
}

bool MapSource(TPatchSource& source)
{
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(source.file.get(), &size) || static_cast<std::uint64_t>(size.QuadPart) > MaxPatchSource)
        return false;
    if (size.QuadPart == 0)
        return true;  // nothing to map, and the system maps no empty file
    if (!OnFixedDisk(source.file.get()))
        return ReadSource(source, static_cast<std::size_t>(size.QuadPart));
    source.mapping.reset(CreateFileMappingW(source.file.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
    if (source.mapping)
        source.view.reset(MapViewOfFile(source.mapping.get(), FILE_MAP_READ, 0, 0, 0));
    if (!source.view)
        return false;
    source.bytes = {static_cast<const std::uint8_t*>(source.view.get()), static_cast<std::size_t>(size.QuadPart)};
    return true;
}

std::string OpenPatchSource(const TauRoad& road, const std::string& installed, TPatchSource& source)
{
    source.file = OpenInstalledFile(installed);
    if (!source.file || !MapSource(source))
        return "the installed file cannot be read whole (a patch applies to at most " +
               std::to_string(MaxPatchSource >> 20) + " MiB)";
    TauSha256 hash;
    hash.Update(source.bytes.data(), source.bytes.size());
    if (hash.Finish() != road.sourceSha256)
        return "the installed file is no longer the one the patch applies to";
    return {};
}

}  // namespace

std::string DecodeRoad(const TauRoad& road, const std::string& body, const TauRoadTarget& target)
{
    std::string failure;
    TPatchSource source;
    if (road.kind == TauRoad::Patch) {
        failure = OpenPatchSource(road, target.installed, source);
        if (!failure.empty())
            return failure;
    }
    const UniqueFile input(CreateFileW(WideFromUtf8(body).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                       OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN | FILE_FLAG_OPEN_REPARSE_POINT,
                                       nullptr));
    if (!input)
        return "its download cannot be read: " + ErrorText(GetLastError());
    const auto output = TauFileStream::Create(target.download, target.hidden);
    if (!output)
        return "the file " + target.download + " cannot be created: " + ErrorText(GetLastError());
    TDeltaDecoder decoder = road.kind == TauRoad::Patch ? TDeltaDecoder::Patch(source.bytes, target.size)
                                                        : TDeltaDecoder::Inflate(target.size);
    TauSha256 hash;
    DWORD writeError = NO_ERROR;
    std::uint64_t written = 0;
    const auto store = [&](std::span<const std::uint8_t> bytes) {
        if (writeError != NO_ERROR)
            return;
        hash.Update(bytes.data(), bytes.size());
        written += bytes.size();
        if (!output->Write(bytes.data(), bytes.size()))
            writeError = GetLastError() != NO_ERROR ? GetLastError() : ERROR_WRITE_FAULT;
    };
    std::vector<std::uint8_t> block(256 * 1024);
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(input.get(), block.data(), static_cast<DWORD>(block.size()), &read, nullptr))
            return "its download cannot be read: " + ErrorText(GetLastError());
        if (read == 0)
            break;
        failure = decoder.Feed({block.data(), read}, store);
        if (writeError != NO_ERROR)
            return "the file " + target.download + " cannot be written: " + ErrorText(writeError);
        if (!failure.empty())
            return "it does not decode: " + failure;
    }
    failure = decoder.Finish();
    if (!failure.empty())
        return "it does not decode: " + failure;
    if (!output->Flush())
        return "the file " + target.download + " cannot be flushed: " + ErrorText(GetLastError());
    if (written != target.size || hash.Finish() != target.sha256)
        return "what it gives does not match the file's SHA-256 digest";
    return {};
}
