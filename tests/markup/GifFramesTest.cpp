#include "markup/GifFrames.h"

#include "markup/TestImages.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

std::vector<std::size_t> Markers(const std::vector<std::uint8_t>& data)
{
    std::vector<std::size_t> at;
    for (std::size_t i = 0; i + 8 < data.size(); ++i)
        if (data[i] == 0x21 && data[i + 1] == 0xF9 && data[i + 2] == 0x04 && data[i + 8] == 0x2C)
            at.push_back(i);
    return at;
}

} // namespace

TEST(GifFrames, CountsAndSelectsFrames)
{
    const std::vector<std::uint8_t> gif = MakeGif(7, 5, {1, 2, 3});
    EXPECT_TRUE(IsGifData(gif));
    EXPECT_EQ(CountGifFrames(gif), 3);
    const std::vector<std::size_t> markers = Markers(gif);
    ASSERT_EQ(markers.size(), 3u);

    const GifSelection second = SelectGifFrame(gif, 2);
    EXPECT_EQ(second.frame, 2);
    EXPECT_EQ(second.screenWidth, 7);
    EXPECT_EQ(second.screenHeight, 5);
    EXPECT_EQ(second.position.width, 7);
    EXPECT_EQ(second.position.height, 5);
    std::vector<std::uint8_t> expected(gif.begin(), gif.begin() + static_cast<std::ptrdiff_t>(markers[0]));
    expected.insert(expected.end(), gif.begin() + static_cast<std::ptrdiff_t>(markers[1]), gif.end());
    EXPECT_EQ(second.data, expected) << "the first frame's bytes are left out";
    EXPECT_EQ(CountGifFrames(second.data), 2);

    EXPECT_EQ(SelectGifFrame(gif, 1).data, gif);
    EXPECT_EQ(SelectGifFrame(gif, 0).frame, 1) << "the frame is clamped";
    EXPECT_EQ(SelectGifFrame(gif, -7).frame, 1);
    EXPECT_EQ(SelectGifFrame(gif, 99).frame, 3);
}

TEST(GifFrames, OtherDataIsWhole)
{
    const std::vector<std::uint8_t> bmp = MakeBmp(2, 2, 1, 2, 3);
    EXPECT_EQ(CountGifFrames(bmp), -1);
    EXPECT_EQ(SelectGifFrame(bmp, 2).data, bmp);
    const std::vector<std::uint8_t> shortGif = {'G', 'I', 'F', '8'};
    EXPECT_EQ(CountGifFrames(shortGif), -1) << "fewer than 5 bytes is no GIF";
    const std::vector<std::uint8_t> bare = {'G', 'I', 'F', '8', '9'};
    EXPECT_EQ(CountGifFrames(bare), 0);
    const GifSelection selection = SelectGifFrame(bare, 1);
    EXPECT_EQ(selection.data, bare);
    EXPECT_EQ(selection.screenWidth, 0);
}

TEST(GifFrames, TruncatedDataIsReadWithinItsBounds)
{
    const std::vector<std::uint8_t> gif = MakeGif(3, 2, {1, 2, 3});
    const std::vector<std::size_t> markers = Markers(gif);
    for (std::size_t size = 0; size <= gif.size(); ++size) {
        // Exact-size copies, so that the sanitizers see any read past the end.
        const std::vector<std::uint8_t> cut(gif.begin(), gif.begin() + static_cast<std::ptrdiff_t>(size));
        const int count = CountGifFrames(cut);
        EXPECT_LE(count, 3) << size;
        for (const int frame : {1, 2, 3}) {
            const GifSelection selection = SelectGifFrame(cut, frame);
            EXPECT_LE(selection.data.size(), cut.size());
        }
    }
    // A marker whose descriptor is cut after its introducer: the fields past the end read as 0.
    const std::vector<std::uint8_t> cut(gif.begin(), gif.begin() + static_cast<std::ptrdiff_t>(markers[0] + 12));
    const GifSelection selection = SelectGifFrame(cut, 1);
    EXPECT_EQ(selection.position.x, 0);
    EXPECT_EQ(selection.position.width, 0);
    EXPECT_EQ(selection.screenWidth, 3);
    const std::vector<std::uint8_t> tooShort(gif.begin(), gif.begin() + static_cast<std::ptrdiff_t>(markers[0] + 8));
    EXPECT_EQ(CountGifFrames(tooShort), 0) << "the introducer must lie inside the data";
}
