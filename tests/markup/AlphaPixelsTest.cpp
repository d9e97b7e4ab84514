#include "markup/AlphaLayout.h"
#include "markup/AlphaPixels.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

Image32 Filled(int width, int height, Pixel32 pixel)
{
    return {width, height, std::vector<Pixel32>(static_cast<std::size_t>(width) * height, pixel)};
}

// A bitmap file of 32 bits per pixel; a negative height stores rows top-down.
std::vector<unsigned char> BitmapFile(int width, int height, const std::vector<Pixel32>& rowsAsStored)
{
    std::vector<unsigned char> file(54 + rowsAsStored.size() * 4);
    auto put32 = [&](std::size_t at, std::uint32_t value) { std::memcpy(&file[at], &value, 4); };
    file[0] = 'B';
    file[1] = 'M';
    put32(2, static_cast<std::uint32_t>(file.size()));
    put32(10, 54);
    put32(14, 40);
    put32(18, static_cast<std::uint32_t>(width));
    put32(22, static_cast<std::uint32_t>(height));
    file[26] = 1;
    file[28] = 32;
    std::memcpy(&file[54], rowsAsStored.data(), rowsAsStored.size() * 4);
    return file;
}

} // namespace

TEST(AlphaPixelsTest, BlendKeepsOrReplacesAtTheAlphaEdges)
{
    const Pixel32 background = MakePixel(10, 20, 30, 40);
    EXPECT_EQ(BlendPixel(MakePixel(200, 200, 200, 0), background), background);
    EXPECT_EQ(BlendPixel(MakePixel(200, 150, 100, 255), background), MakePixel(200, 150, 100, 255));
    // Just inside the edges the formula applies, alpha byte included.
    EXPECT_EQ(BlendPixel(MakePixel(255, 255, 255, 1), MakePixel(0, 0, 0, 0)), MakePixel(1, 1, 1, 0));
    EXPECT_EQ(BlendPixel(MakePixel(0, 0, 0, 254), MakePixel(255, 255, 255, 255)), MakePixel(1, 1, 1, 253));
}

TEST(AlphaPixelsTest, BlendRoundsEachHalfSeparately)
{
    // Rounded together, 255 over 255 at alpha 128 would give 254.
    EXPECT_EQ(BlendPixel(MakePixel(255, 255, 255, 128), MakePixel(255, 255, 255, 255)),
              MakePixel(255, 255, 255, 191));
    EXPECT_EQ(BlendPixel(MakePixel(1, 1, 1, 128), MakePixel(1, 1, 1, 0)), MakePixel(1, 1, 1, 64));
    EXPECT_EQ(BlendPixel(MakePixel(100, 0, 50, 64), MakePixel(0, 200, 50, 255)),
              MakePixel((100 * 64 + 128) / 256, (200 * 191 + 128) / 256, 13 + 37, 16 + 190));
    // No byte ever overflows into its neighbour.
    for (int alpha = 1; alpha < 255; ++alpha)
        for (int glyph = 0; glyph < 256; ++glyph)
            for (int back = 0; back < 256; back += 5) {
                const Pixel32 blended = BlendPixel(MakePixel(glyph, 0, 0, alpha), MakePixel(back, 0, 0, 0));
                ASSERT_EQ(blended >> 8 & 0xFF, 0u) << alpha << ' ' << glyph << ' ' << back;
            }
}

TEST(AlphaPixelsTest, GreyUsesTheWeightedSumAndKeepsAlpha)
{
    EXPECT_EQ(GreyPixel(MakePixel(0, 0, 255, 77)), MakePixel(76, 76, 76, 77));
    EXPECT_EQ(GreyPixel(MakePixel(0, 255, 0, 0)), MakePixel(150, 150, 150, 0));
    EXPECT_EQ(GreyPixel(MakePixel(255, 0, 0, 255)), MakePixel(28, 28, 28, 255));
    EXPECT_EQ(GreyPixel(MakePixel(255, 255, 255, 9)), MakePixel(255, 255, 255, 9));
    Image32 grey;
    GreyImage(Filled(3, 2, MakePixel(0, 0, 255, 5)), grey);
    EXPECT_EQ(grey.width, 3);
    EXPECT_EQ(grey.height, 2);
    EXPECT_EQ(grey.At(2, 1), MakePixel(76, 76, 76, 5));
}

TEST(AlphaPixelsTest, BlendImageClipsToTheTarget)
{
    const Pixel32 back = MakePixel(1, 2, 3, 4), ink = MakePixel(9, 9, 9, 255);
    Image32 target = Filled(4, 3, back);
    BlendImage(Filled(2, 2, ink), target.pixels.data(), target.width, target.height, 3, 2);
    EXPECT_EQ(target.At(3, 2), ink);
    EXPECT_EQ(target.At(2, 2), back);
    EXPECT_EQ(target.At(3, 1), back);
    target = Filled(4, 3, back);
    BlendImage(Filled(3, 3, ink), target.pixels.data(), target.width, target.height, -2, -1);
    EXPECT_EQ(target.At(0, 0), ink);
    EXPECT_EQ(target.At(0, 1), ink);
    EXPECT_EQ(target.At(1, 0), back);
    EXPECT_EQ(target.At(0, 2), back);
    target = Filled(4, 3, back);
    BlendImage(Filled(2, 2, ink), target.pixels.data(), target.width, target.height, 4, 0);
    BlendImage(Filled(2, 2, ink), target.pixels.data(), target.width, target.height, -2, 0);
    BlendImage(Filled(2, 2, ink), target.pixels.data(), target.width, target.height, 0, 3);
    EXPECT_EQ(target.pixels, Filled(4, 3, back).pixels);
}

TEST(AlphaPixelsTest, BitmapFilesReadBottomUpAndTopDown)
{
    const Pixel32 a = MakePixel(1, 2, 3, 4), b = MakePixel(5, 6, 7, 8);
    Image32 image;
    std::string error;
    const auto bottomUp = BitmapFile(2, 2, {a, a, b, b});
    ASSERT_TRUE(ParseBitmap32(bottomUp.data(), bottomUp.size(), image, error)) << error;
    EXPECT_EQ(image.width, 2);
    EXPECT_EQ(image.At(0, 0), b);
    EXPECT_EQ(image.At(1, 1), a);
    const auto topDown = BitmapFile(2, -2, {a, a, b, b});
    ASSERT_TRUE(ParseBitmap32(topDown.data(), topDown.size(), image, error)) << error;
    EXPECT_EQ(image.height, 2);
    EXPECT_EQ(image.At(0, 0), a);
}

TEST(AlphaPixelsTest, BadBitmapFilesAreRefusedAndChangeNothing)
{
    Image32 image = Filled(1, 1, 7);
    std::string error;
    auto good = BitmapFile(2, 2, {1, 2, 3, 4});
    EXPECT_FALSE(ParseBitmap32(nullptr, 0, image, error));
    EXPECT_FALSE(ParseBitmap32(good.data(), 20, image, error));
    EXPECT_EQ(error, "not a bitmap file");
    auto cut = good;
    cut.pop_back();
    EXPECT_FALSE(ParseBitmap32(cut.data(), cut.size(), image, error));
    EXPECT_EQ(error, "bitmap data cut short");
    auto bits24 = good;
    bits24[28] = 24;
    EXPECT_FALSE(ParseBitmap32(bits24.data(), bits24.size(), image, error));
    auto compressed = good;
    compressed[30] = 1;
    EXPECT_FALSE(ParseBitmap32(compressed.data(), compressed.size(), image, error));
    EXPECT_EQ(error, "not an uncompressed bitmap of 32 bits per pixel");
    auto huge = BitmapFile(0x7FFFFFFF, 2, {1, 2, 3, 4});
    EXPECT_FALSE(ParseBitmap32(huge.data(), huge.size(), image, error));
    EXPECT_EQ(error, "bitmap size out of range");
    auto badOffset = good;
    badOffset[10] = 0xFF;
    badOffset[13] = 0x7F;
    EXPECT_FALSE(ParseBitmap32(badOffset.data(), badOffset.size(), image, error));
    auto wrongMagic = good;
    wrongMagic[1] = 'A';
    EXPECT_FALSE(ParseBitmap32(wrongMagic.data(), wrongMagic.size(), image, error));
    EXPECT_EQ(image.width, 1);
    EXPECT_EQ(image.At(0, 0), 7u);
}

TEST(AlphaLayoutTest, GlyphLeftAndRightCentreAcrossAndPlaceAlong)
{
    AlphaLayoutInput in{75, 25, 24, 24, 40, 13};
    AlphaLayoutResult out = LayoutAlphaButton(in);
    EXPECT_EQ(out.glyphX, 3); // (75 - 24 - 4 - 40) / 2
    EXPECT_EQ(out.glyphY, 1);
    EXPECT_EQ(out.textX, 31);
    EXPECT_EQ(out.textY, 6);
    in.layout = TButtonLayout::blGlyphRight;
    in.margin = 5;
    out = LayoutAlphaButton(in);
    EXPECT_EQ(out.glyphX, 46);
    EXPECT_EQ(out.textX, 2);
    in.spacing = -1;
    in.margin = 2;
    in.layout = TButtonLayout::blGlyphLeft;
    out = LayoutAlphaButton(in);
    EXPECT_EQ(out.textX, 2 + 24 + 5); // (75 - 2 - 24 - 40 + 1) / 2
    in.pressed = true;
    out = LayoutAlphaButton(in);
    EXPECT_EQ(out.glyphX, 3);
    EXPECT_EQ(out.glyphY, 2);
    EXPECT_EQ(out.textX, 32);
    EXPECT_EQ(out.textY, 7);
}

TEST(AlphaLayoutTest, MarginAndSpacingBothCentredSplitTheFreeSpaceInThree)
{
    AlphaLayoutInput in{75, 25, 24, 24, 40, 13};
    in.spacing = -1;
    const AlphaLayoutResult out = LayoutAlphaButton(in);
    EXPECT_EQ(out.glyphX, 3); // (75 - 24 - 40) / 3
    EXPECT_EQ(out.textX, 3 + 24 + 3);
    EXPECT_EQ(75 - (out.textX + 40), 5); // the remainder falls to the far edge
}

TEST(AlphaLayoutTest, TopAndBottomWorkAlongTheHeight)
{
    AlphaLayoutInput in{75, 60, 24, 24, 40, 13};
    in.layout = TButtonLayout::blGlyphTop;
    AlphaLayoutResult out = LayoutAlphaButton(in);
    EXPECT_EQ(out.glyphX, 26);
    EXPECT_EQ(out.textX, 18);
    EXPECT_EQ(out.glyphY, 9);
    EXPECT_EQ(out.textY, 37);
    in.layout = TButtonLayout::blGlyphBottom;
    in.margin = 2;
    out = LayoutAlphaButton(in);
    EXPECT_EQ(out.glyphY, 34);
    EXPECT_EQ(out.textY, 17);
}

TEST(AlphaLayoutTest, WithoutCaptionOrGlyphThereIsNoSpacing)
{
    AlphaLayoutInput in{75, 25, 24, 24, 0, 0};
    EXPECT_EQ(LayoutAlphaButton(in).glyphX, 25);
    in = {75, 25, 0, 0, 41, 13};
    in.spacing = -1;
    EXPECT_EQ(LayoutAlphaButton(in).textX, 17);
    // Too small a button: the division truncates toward zero.
    in = {19, 25, 24, 24, 0, 0};
    EXPECT_EQ(LayoutAlphaButton(in).glyphX, -2);
}

TEST(AlphaLayoutTest, PressBoundsIncludeTheBottomEdgeButNotTheRight)
{
    EXPECT_TRUE(InPressBounds(0, 0, 75, 25));
    EXPECT_TRUE(InPressBounds(74, 25, 75, 25));
    EXPECT_FALSE(InPressBounds(75, 0, 75, 25));
    EXPECT_FALSE(InPressBounds(0, 26, 75, 25));
    EXPECT_FALSE(InPressBounds(-1, 0, 75, 25));
    EXPECT_FALSE(InPressBounds(0, -1, 75, 25));
}

TEST(AlphaLayoutTest, CaptionAcceleratorFollowsASingleAmpersand)
{
    EXPECT_EQ(CaptionAccelerator("&Update"), 'U');
    EXPECT_EQ(CaptionAccelerator("can&cel"), 'C');
    EXPECT_EQ(CaptionAccelerator("A&&B"), 0);
    EXPECT_EQ(CaptionAccelerator("A&&&b"), 'B');
    EXPECT_EQ(CaptionAccelerator("End&"), 0);
    EXPECT_EQ(CaptionAccelerator(""), 0);
    EXPECT_EQ(CaptionAccelerator("&\u0414\u0430"), U'\u0414') << "a character of any script, whole";
    EXPECT_EQ(CaptionAccelerator("&\xD0"), 0) << "not a byte of one";
}

TEST(AlphaPixelsTest, ScalingAGlyphKeepsItsSolidPartsAndSoftensOnlyItsEdges)
{
    // A 4 by 4 glyph: an opaque red square of 2 by 2 in a transparent frame.
    Image32 glyph = Filled(4, 4, MakePixel(0, 0, 0, 0));
    for (const int at : {5, 6, 9, 10})
        glyph.pixels[static_cast<std::size_t>(at)] = MakePixel(0, 0, 255, 255);
    const Image32 larger = ScaleImage(glyph, 6, 6);
    ASSERT_EQ(larger.width, 6);
    ASSERT_EQ(larger.height, 6);
    EXPECT_EQ(larger.At(2, 2), MakePixel(0, 0, 255, 255)) << "inside stays solid";
    EXPECT_EQ(larger.At(0, 0), MakePixel(0, 0, 0, 0)) << "the frame stays clear";
    const Pixel32 edge = larger.At(1, 2);
    EXPECT_GT(AlphaOf(edge), 0);
    EXPECT_LT(AlphaOf(edge), 255) << "the edge is soft";
    EXPECT_EQ(PixelByte(edge, 2), 255) << "a transparent neighbour lends no colour";

    const Image32 smaller = ScaleImage(glyph, 2, 2);
    EXPECT_EQ(AlphaOf(smaller.At(0, 0)), 64) << "a quarter covered";
    EXPECT_EQ(ScaleImage(glyph, 4, 4).pixels, glyph.pixels) << "the same size is the same image";

    // Bad sizes give an empty image or stay within the cap.
    EXPECT_TRUE(ScaleImage(glyph, 0, 6).Empty());
    EXPECT_TRUE(ScaleImage(glyph, 6, -1).Empty());
    EXPECT_TRUE(ScaleImage(Image32{}, 6, 6).Empty());
    const Image32 huge = ScaleImage(Filled(1, 1, MakePixel(1, 2, 3, 255)), 1 << 20, 3);
    EXPECT_EQ(huge.width, kMaxScaledSide);
    EXPECT_EQ(huge.At(kMaxScaledSide - 1, 2), MakePixel(1, 2, 3, 255));
}
