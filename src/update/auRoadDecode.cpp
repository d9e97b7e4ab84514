#include "auRoadDecode.h"

#include "delta/DeltaDecoder.h"
#include "http/Sha256.h"
#include "http/Streams.h"
#include "winutil/ErrorText.h"
#include "winutil/WholeFile.h"
#include "winutil/WideText.h"

#include <cstdint>
#include <optional>
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

// The patch's source, read once and hashed from these very bytes: the
// installed file may have changed since it was first hashed.
std::optional<std::string> PatchSource(const TauRoad& road, const std::string& installed, std::string& failure)
{
    const UniqueFile file = OpenInstalledFile(installed);
    auto bytes = file ? ReadWholeFile(file.get(), MaxPatchSource) : std::nullopt;
    if (!bytes) {
        failure = "the installed file cannot be read whole (a patch applies to at most " +
                  std::to_string(MaxPatchSource >> 20) + " MiB)";
        return std::nullopt;
    }
    if (Sha256Of(*bytes) != road.sourceSha256) {
        failure = "the installed file is no longer the one the patch applies to";
        return std::nullopt;
    }
    return bytes;
}

std::span<const std::uint8_t> BytesOf(const std::string& text)
{
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

}  // namespace

std::string DecodeRoad(const TauRoad& road, const std::string& body, const TauRoadTarget& target)
{
    std::string failure;
    std::string source;
    if (road.kind == TauRoad::Patch) {
        auto bytes = PatchSource(road, target.installed, failure);
        if (!bytes)
            return failure;
        source = std::move(*bytes);
    }
    const UniqueFile input(CreateFileW(WideFromUtf8(body).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                       OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN | FILE_FLAG_OPEN_REPARSE_POINT,
                                       nullptr));
    if (!input)
        return "its download cannot be read: " + ErrorText(GetLastError());
    const auto output = TauFileStream::Create(target.download, target.hidden);
    if (!output)
        return "the file " + target.download + " cannot be created: " + ErrorText(GetLastError());
    TDeltaDecoder decoder = road.kind == TauRoad::Patch ? TDeltaDecoder::Patch(BytesOf(source), target.size)
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
