// Applying a one-hop patch to an installed file as the engine does (the
// patch and its source mapped and hashed, the patch decoded into one buffer
// of the download while it is hashed, flushed, checked) against copying the
// release file with the system and flushing the copy: the same file, in the
// same run, alternately, the median of each. The release is FILE with 1 % of
// its bytes changed and 4 KB inserted at a third, as a rebuilt program
// differs from the one before. Applying hashes the file twice (its source and
// its result); the time of one hash is shown beside it, and the ratio without
// the two.
// Usage: bench_patch FILE [ROUNDS]
#include "delta/DeltaEncoder.h"
#include "http/FileSha256.h"
#include "update/auRoadDecode.h"
#include "winutil/UniqueHandle.h"
#include "winutil/WholeFile.h"
#include "winutil/WideText.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

double Seconds(LARGE_INTEGER from, LARGE_INTEGER to)
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

template <typename Step>
double Timed(Step step)
{
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    step();
    QueryPerformanceCounter(&end);
    return Seconds(start, end);
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

std::string Release(const std::string& installed)
{
    std::string release = installed;
    for (std::size_t n = 0; n < installed.size() / 100; ++n)
        release[(n * 2654435761u) % release.size()] ^= 0x20;
    release.insert(release.size() / 3, installed.substr(installed.size() / 2, 4096));
    return release;
}

bool CopyFlushed(const std::string& from, const std::string& to)
{
    if (!CopyFileW(WideFromUtf8(from).c_str(), WideFromUtf8(to).c_str(), /*bFailIfExists=*/FALSE))
        return false;
    const UniqueFile copy(CreateFileW(WideFromUtf8(to).c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    return copy && FlushFileBuffers(copy.get());
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_patch FILE [ROUNDS]\n");
        return 2;
    }
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    try {
        const auto installed = ReadWholeFile(std::string(argv[1]), MaxPatchSource);
        if (!installed || installed->size() < 8192) {
            std::fprintf(stderr, "bench_patch: %s cannot be read (error %lu), or is under 8 KB\n", argv[1],
                         GetLastError());
            return 1;
        }
        wchar_t temp[MAX_PATH + 1];
        GetTempPathW(MAX_PATH + 1, temp);
        const std::string folder = Utf8FromWide(temp) + "bench_patch-" + std::to_string(GetCurrentProcessId()) + "\\";
        CreateDirectoryW(WideFromUtf8(folder).c_str(), nullptr);
        const std::string release = Release(*installed);
        const auto bytes = [](const std::string& text) {
            return std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
        };
        // Near the level kdrelease publishes at (22), in a fraction of its time.
        const std::vector<std::uint8_t> encoded = EncodePatch(bytes(*installed), bytes(release), 19);
        const std::string patch(encoded.begin(), encoded.end());
        const std::vector<std::string> files = {folder + "installed", folder + "release", folder + "road",
                                                folder + "patched", folder + "copied"};
        if (!WriteWholeFile(files[0], *installed) || !WriteWholeFile(files[1], release) ||
            !WriteWholeFile(files[2], patch)) {
            std::fprintf(stderr, "bench_patch: cannot write in %s\n", folder.c_str());
            return 1;
        }
        const TauRoad road{TauRoad::Patch, "https://example.invalid/road", Sha256Of(patch), patch.size(),
                           Sha256Of(*installed)};
        const TauRoadTarget target{files[0], files[3], release.size(), Sha256Of(release), /*hidden=*/false};
        std::vector<double> copies, patches, hashes;
        std::string failure;
        bool copied = true;
        for (int round = 0; round < rounds; ++round) {
            copies.push_back(Timed([&] { copied = CopyFlushed(files[1], files[4]) && copied; }));
            patches.push_back(Timed([&] { failure = DecodeRoad(road, files[2], target); }));
            hashes.push_back(Timed([&] { copied = !Sha256Of(release).empty() && copied; }));
        }
        for (const std::string& file : files)
            DeleteFileW(WideFromUtf8(file).c_str());
        RemoveDirectoryW(WideFromUtf8(folder).c_str());
        if (!failure.empty() || !copied) {
            std::fprintf(stderr, "bench_patch: %s\n", failure.empty() ? "the copy failed" : failure.c_str());
            return 1;
        }
        const double copy = Median(copies), applied = Median(patches), hash = Median(hashes);
        std::printf("file %zu bytes, patch %zu bytes; copy %.1f ms, patch applied %.1f ms, one hash of the file "
                    "%.1f ms (median of %d): ratio to the copy %.2f, without the two hashes %.2f\n",
                    release.size(), patch.size(), copy * 1000, applied * 1000, hash * 1000, rounds, applied / copy,
                    (applied - 2 * hash) / copy);
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_patch: %s\n", e.what());
        return 1;
    }
}
