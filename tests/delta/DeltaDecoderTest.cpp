// The decoder against real zstd frames made by the full library (compressed
// forms and patches at high levels with long matching), and against each bad
// road the engine must refuse without handing out more than signed.
#include "delta/DeltaDecoder.h"
#include "delta/DeltaEncoder.h"

#include <gtest/gtest.h>

#define ZSTD_STATIC_LINKING_ONLY
#include <zstd.h>

#include <cstdint>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using TBytes = std::vector<std::uint8_t>;

// Text-like bytes: compressible, but with enough variety that a patch must
// find its matches far back in the source.
TBytes SampleFile(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    const std::string words[] = {"release ", "freshet ", "window ", "patch ", "frame ", "0x7ffe ", "\r\n", "{}"};
    TBytes bytes;
    while (bytes.size() < size) {
        const std::string& word = words[random() % std::size(words)];
        bytes.insert(bytes.end(), word.begin(), word.end());
        if (random() % 5 == 0) {
            bytes.push_back(static_cast<std::uint8_t>(random()));
        }
    }
    bytes.resize(size);
    return bytes;
}

// The next release of `source`: bytes changed in place here and there, a
// block inserted and a block removed.
TBytes NextRelease(const TBytes& source) {
    TBytes target = source;
    std::mt19937 random(99);
    for (int i = 0; i < 200; ++i) {
        target[random() % target.size()] ^= 0x5a;
    }
    const TBytes inserted = SampleFile(4096, 7);
    target.insert(target.begin() + target.size() / 3, inserted.begin(), inserted.end());
    target.erase(target.begin() + target.size() * 2 / 3, target.begin() + target.size() * 2 / 3 + 1000);
    return target;
}

struct TDecoded {
    TBytes output;
    std::string refusal;  // of Feed, else of Finish
};

// Feeds `road` in pieces of the given sizes (cycled), then finishes.
TDecoded Decode(TDeltaDecoder decoder, const TBytes& road, const std::vector<std::size_t>& pieces = {65536}) {
    TDecoded decoded;
    const auto take = [&](std::span<const std::uint8_t> piece) {
        decoded.output.insert(decoded.output.end(), piece.begin(), piece.end());
    };
    std::size_t at = 0;
    for (std::size_t i = 0; at < road.size(); ++i) {
        const std::size_t size = std::min(pieces[i % pieces.size()], road.size() - at);
        decoded.refusal = decoder.Feed({road.data() + at, size}, take);
        if (!decoded.refusal.empty()) {
            EXPECT_EQ(decoder.Feed({road.data(), 1}, take), decoded.refusal) << "a refusal is final";
            return decoded;
        }
        at += size;
    }
    decoded.refusal = decoder.Finish();
    return decoded;
}

TBytes Bytes(std::initializer_list<int> values) {
    TBytes bytes;
    for (int value : values) {
        bytes.push_back(static_cast<std::uint8_t>(value));
    }
    return bytes;
}

void Append(TBytes& bytes, const TBytes& more) {
    bytes.insert(bytes.end(), more.begin(), more.end());
}

// A frame header in the format's own terms: frame header descriptor, then the
// window descriptor, dictionary id and content size fields it announces.
TBytes FrameHeader(std::uint8_t descriptor, const TBytes& fields) {
    TBytes frame = Bytes({0x28, 0xb5, 0x2f, 0xfd, descriptor});
    Append(frame, fields);
    return frame;
}

TBytes LittleEndian(std::uint64_t value, int bytes) {
    TBytes out;
    for (int i = 0; i < bytes; ++i) {
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    }
    return out;
}

// A last raw block holding `content`.
TBytes RawBlock(const std::string& content) {
    TBytes block = LittleEndian((content.size() << 3) | 1, 3);
    block.insert(block.end(), content.begin(), content.end());
    return block;
}

}  // namespace

TEST(DeltaDecoder, CompressedFormsAndPatchesOfTheFullLibraryDecodeInAnySplit) {
    const TBytes source = SampleFile(1 << 20, 1);
    const TBytes target = NextRelease(source);

    const TBytes compressed = EncodeCompressed(target, 19);
    EXPECT_LT(compressed.size(), target.size() / 2);
    const TBytes patch = EncodePatch(source, target, 22);
    EXPECT_LT(patch.size(), compressed.size() / 10) << "a patch finds its matches in the installed file";

    for (const auto& pieces : std::vector<std::vector<std::size_t>>{{1 << 20}, {1, 2, 3, 17, 4096}, {7, 131073}}) {
        const TDecoded inflated = Decode(TDeltaDecoder::Inflate(target.size()), compressed, pieces);
        EXPECT_EQ(inflated.refusal, "");
        EXPECT_TRUE(inflated.output == target);
        const TDecoded patched = Decode(TDeltaDecoder::Patch(source, target.size()), patch, pieces);
        EXPECT_EQ(patched.refusal, "");
        EXPECT_TRUE(patched.output == target);
    }

    // The library's own one-call form (no long matching, no checksum) and an
    // empty file are frames like any other.
    TBytes plain(ZSTD_compressBound(target.size()));
    plain.resize(ZSTD_compress(plain.data(), plain.size(), target.data(), target.size(), 3));
    EXPECT_TRUE(Decode(TDeltaDecoder::Inflate(target.size()), plain).output == target);
    const TDecoded empty = Decode(TDeltaDecoder::Inflate(0), EncodeCompressed({}, 19));
    EXPECT_EQ(empty.refusal, "");
    EXPECT_TRUE(empty.output.empty());
}

TEST(DeltaDecoder, MemoryIsBoundedBySizesBeforeDecodingAndTheSourceIsNotCopied) {
    const TBytes source = SampleFile(4 << 20, 2);
    TBytes target(source.begin(), source.begin() + (1 << 20));
    target[500] ^= 1;

    const TDeltaDecoder inflate = TDeltaDecoder::Inflate(target.size());
    EXPECT_GT(inflate.MemoryBound(), target.size()) << "the window holds the whole file";
    EXPECT_LT(inflate.MemoryBound(), target.size() + (600 << 10));
    // The patch's window spans the 4 MB source, which the decoder only reads.
    TDeltaDecoder patch = TDeltaDecoder::Patch(source, target.size());
    EXPECT_LT(patch.MemoryBound(), target.size() + (600 << 10));
    // The bound is a budget the library allocates from: decoding within it works.
    const TDecoded patched = Decode(std::move(patch), EncodePatch(source, target, 9));
    EXPECT_EQ(patched.refusal, "");
    EXPECT_TRUE(patched.output == target);

    // A small file's decoder holds little, a huge one's no more than the
    // largest window: nothing is held before a frame asks.
    EXPECT_LT(TDeltaDecoder::Inflate(10).MemoryBound(), 400u << 10);
    const std::uint64_t largestWindow = std::uint64_t{1} << ZSTD_WINDOWLOG_MAX;
    EXPECT_LT(TDeltaDecoder::Inflate(std::uint64_t{1} << 40).MemoryBound(), largestWindow + (1 << 20));
}

TEST(DeltaDecoder, FramesClaimingMoreThanSignedAreRefusedBeforeAnyByteIsHandedOut) {
    const TBytes target = SampleFile(20000, 3);
    const TBytes compressed = EncodeCompressed(target, 19);

    TDecoded decoded = Decode(TDeltaDecoder::Inflate(10000), compressed);
    EXPECT_EQ(decoded.refusal, "the compressed file would make 20000 bytes, more than the signed 10000");
    EXPECT_TRUE(decoded.output.empty());

    // 1 TB claimed, in a frame whose window is its size.
    decoded = Decode(TDeltaDecoder::Inflate(5), FrameHeader(0xe0, LittleEndian(std::uint64_t{1} << 40, 8)));
    EXPECT_EQ(decoded.refusal, "the compressed file would make 1099511627776 bytes, more than the signed 5");

    // The right size, but a window of almost 2 GB for 5000 bytes.
    TBytes hugeWindow = FrameHeader(0xc0, [] {
        TBytes fields = Bytes({0xa7});
        Append(fields, LittleEndian(5000, 8));
        return fields;
    }());
    Append(hugeWindow, RawBlock(std::string(5000, 'x')));
    decoded = Decode(TDeltaDecoder::Patch(target, 5000), hugeWindow);
    EXPECT_EQ(decoded.refusal, "the patch asks for a window of 2013265920 bytes, more than the 32768 its sizes need");
    EXPECT_TRUE(decoded.output.empty());

    // A header that understates what its blocks make: the excess is never handed out.
    TBytes understated = FrameHeader(0x20, Bytes({100}));
    Append(understated, LittleEndian(100 << 3, 3));
    Append(understated, TBytes(100, 'y'));
    Append(understated, RawBlock(std::string(100, 'z')));
    decoded = Decode(TDeltaDecoder::Inflate(100), understated);
    EXPECT_EQ(decoded.refusal, "the compressed file makes more bytes than it says");
    EXPECT_LE(decoded.output.size(), 100u);
}

TEST(DeltaDecoder, TruncatedShortTrailingAndForeignRoadsAreRefusedWithTheirReason) {
    const TBytes target = SampleFile(300000, 4);
    const TBytes compressed = EncodeCompressed(target, 19);

    for (std::size_t cut : {std::size_t{0}, std::size_t{3}, std::size_t{9}, compressed.size() / 2,
                            compressed.size() - 1}) {
        const TDecoded decoded = Decode(TDeltaDecoder::Inflate(target.size()), {compressed.begin(),
                                        compressed.begin() + static_cast<std::ptrdiff_t>(cut)}, {5});
        EXPECT_TRUE(decoded.refusal.starts_with("the compressed file ends before its frame does (")) << decoded.refusal;
        // Cut in its checksum, a frame may have handed out all its bytes: the
        // refusal is what counts.
        EXPECT_LE(decoded.output.size(), target.size());
    }

    const TDecoded shorter = Decode(TDeltaDecoder::Inflate(target.size() + 1), compressed);
    EXPECT_EQ(shorter.refusal, "the compressed file would make 300000 bytes, fewer than the signed 300001");

    TBytes trailing = compressed;
    trailing.push_back(0);
    EXPECT_EQ(Decode(TDeltaDecoder::Inflate(target.size()), trailing).refusal,
              "bytes follow the end of the compressed file's frame");
    TBytes twoFrames = compressed;
    Append(twoFrames, EncodeCompressed({}, 1));
    for (const auto& pieces : std::vector<std::vector<std::size_t>>{{1 << 20}, {compressed.size(), 1}}) {
        const TDecoded decoded = Decode(TDeltaDecoder::Inflate(target.size()), twoFrames, pieces);
        EXPECT_EQ(decoded.refusal, "bytes follow the end of the compressed file's frame");
        EXPECT_TRUE(decoded.output == target);
    }

    EXPECT_EQ(Decode(TDeltaDecoder::Inflate(5), Bytes({'h', 'e', 'l', 'l', 'o', '!'})).refusal,
              "the compressed file is not a zstd frame");
    EXPECT_EQ(Decode(TDeltaDecoder::Inflate(5), Bytes({0x50, 0x2a, 0x4d, 0x18, 0, 0, 0, 0})).refusal,
              "the compressed file starts with a skippable frame, not with its data");
    TBytes noSize = FrameHeader(0x00, Bytes({0x00}));
    Append(noSize, RawBlock("hello"));
    EXPECT_EQ(Decode(TDeltaDecoder::Inflate(5), noSize).refusal, "the compressed file does not say how many bytes it makes");

    // Made with dictionary 7: neither a compressed form nor a patch from the installed file.
    TBytes withDictionary = FrameHeader(0x21, Bytes({7, 5}));
    Append(withDictionary, RawBlock("hello"));
    EXPECT_EQ(Decode(TDeltaDecoder::Inflate(5), withDictionary).refusal,
              "the compressed file was made with dictionary 7, not with the installed file");
    EXPECT_EQ(Decode(TDeltaDecoder::Patch(target, 5), withDictionary).refusal,
              "the patch was made with dictionary 7, not with the installed file");

    // An output that throws refuses the road; nothing escapes Feed.
    TDeltaDecoder decoder = TDeltaDecoder::Inflate(target.size());
    EXPECT_EQ(decoder.Feed(compressed, [](auto) { throw std::runtime_error("disk full"); }),
              "the decoded bytes of the compressed file could not be taken: disk full");
    EXPECT_EQ(decoder.Finish(), "the decoded bytes of the compressed file could not be taken: disk full");
}

TEST(DeltaDecoder, PatchesAppliedToAnotherFileAreRefused) {
    const TBytes source = SampleFile(3 << 19, 5);
    const TBytes target = NextRelease(source);
    const TBytes patch = EncodePatch(source, target, 22);

    // References reach back to the start of the installed file: without its
    // first 64 KB they point before what there is, and the library refuses.
    const TBytes trimmed(source.begin() + (64 << 10), source.end());
    const TDecoded shortSource = Decode(TDeltaDecoder::Patch(trimmed, target.size()), patch);
    EXPECT_EQ(shortSource.refusal, "the patch is corrupt or was made from another file");
    EXPECT_LT(shortSource.output.size(), target.size());

    // Another file of the same size: every reference is in range, the frame's
    // checksum tells.
    TBytes edited = source;
    for (std::size_t at = 0; at < edited.size(); at += 4096) {
        edited[at] ^= 0xff;
    }
    const TDecoded otherSource = Decode(TDeltaDecoder::Patch(edited, target.size()), patch);
    EXPECT_EQ(otherSource.refusal, "the patch makes bytes that do not match its own checksum");
    EXPECT_LE(otherSource.output.size(), target.size());

    // Against a much smaller file, or none, most references lead nowhere.
    EXPECT_EQ(Decode(TDeltaDecoder::Patch(std::span(source).first(1000), target.size()), patch).refusal,
              "the patch is corrupt or was made from another file");
    EXPECT_EQ(Decode(TDeltaDecoder::Inflate(target.size()), patch).refusal, "the compressed file is corrupt");
}
