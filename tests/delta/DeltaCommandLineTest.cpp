// Our frames and those of the zstd command line (`--patch-from`, installed by
// the set-up) are one format: each side decodes the other's, and our patch
// is no larger than the command line's at the same level.
#include "delta/DeltaDecoder.h"
#include "delta/DeltaEncoder.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace {

using TBytes = std::vector<std::uint8_t>;
namespace fs = std::filesystem;

// Looks like a program: runs of instructions repeated with their addresses
// moved, some tables, some noise.
TBytes ProgramLike(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    TBytes bytes;
    while (bytes.size() < size) {
        const std::uint32_t address = random() % 0x10000;
        const std::uint8_t run[] = {0x48, 0x8b, 0x05, static_cast<std::uint8_t>(address),
                                    static_cast<std::uint8_t>(address >> 8), 0, 0, 0xe8, 0x90, 0xc3};
        bytes.insert(bytes.end(), std::begin(run), std::end(run));
        if (random() % 3 == 0) {
            bytes.push_back(static_cast<std::uint8_t>(random()));
        }
    }
    bytes.resize(size);
    return bytes;
}

void Write(const fs::path& path, const TBytes& bytes) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                static_cast<std::streamsize>(bytes.size()));
}

TBytes Read(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return TBytes(std::istreambuf_iterator<char>(file), {});
}

int RunCommand(const std::string& command) {
    return std::system((command + " 2>/dev/null").c_str());
}

struct TScratch {
    fs::path folder = fs::temp_directory_path() / ("delta-cli-" + std::to_string(getpid()));
    TScratch() { fs::create_directories(folder); }
    ~TScratch() { fs::remove_all(folder); }
    std::string operator/(const char* name) const { return (folder / name).string(); }
};

}  // namespace

TEST(DeltaCommandLine, PatchesAndCompressedFormsGoBothWaysBetweenUsAndTheZstdCommand) {
    const std::string zstd = KELDORA_ZSTD_COMMAND;
    ASSERT_FALSE(zstd.empty()) << "the zstd command is not installed (scripts/setup.sh installs it)";
    const TScratch scratch;
    const TBytes source = ProgramLike(1 << 20, 1);
    TBytes target = source;
    // A new build: code inserted early, every later address shifted by it.
    const TBytes inserted = ProgramLike(20000, 2);
    target.insert(target.begin() + 100000, inserted.begin(), inserted.end());
    for (std::size_t at = 200000; at + 4 < target.size(); at += 997) {
        target[at + 3] += 1;
    }
    Write(scratch / "old", source);
    Write(scratch / "new", target);

    const TBytes ours = EncodePatch(source, target, 22);
    Write(scratch / "ours.zst", ours);
    ASSERT_EQ(RunCommand(zstd + " -q -f -d --patch-from=" + (scratch / "old") + " " + (scratch / "ours.zst") + " -o " +
                  (scratch / "ours.out")), 0);
    EXPECT_TRUE(Read(scratch / "ours.out") == target) << "the command applies our patch";

    ASSERT_EQ(RunCommand(zstd + " -q -f --ultra -22 --single-thread --patch-from=" + (scratch / "old") + " " +
                  (scratch / "new") + " -o " + (scratch / "theirs.zst")), 0);
    const TBytes theirs = Read(scratch / "theirs.zst");
    TBytes applied;
    TDeltaDecoder decoder = TDeltaDecoder::Patch(source, target.size());
    EXPECT_EQ(decoder.Feed(theirs, [&](auto piece) { applied.insert(applied.end(), piece.begin(), piece.end()); }), "");
    EXPECT_EQ(decoder.Finish(), "");
    EXPECT_TRUE(applied == target) << "we apply the command's patch";
    RecordProperty("our_patch_bytes", std::to_string(ours.size()));
    RecordProperty("their_patch_bytes", std::to_string(theirs.size()));
    EXPECT_LE(ours.size(), theirs.size() * 11 / 10) << "ours " << ours.size() << ", theirs " << theirs.size();

    const TBytes compressed = EncodeCompressed(target, 19);
    Write(scratch / "new.zst", compressed);
    ASSERT_EQ(RunCommand(zstd + " -q -f -d " + (scratch / "new.zst") + " -o " + (scratch / "new.out")), 0);
    EXPECT_TRUE(Read(scratch / "new.out") == target) << "the command inflates our compressed form";
}
