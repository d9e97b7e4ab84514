#pragma once
// Platform-free 32-bit images with alpha for the alpha button: pixels are
// 32-bit values whose bytes, lowest first, are blue, green, red and alpha
// (0 transparent, 255 opaque), rows stored top to bottom. Blending is done
// by hand, byte by byte, so that every system draws the same result.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

using Pixel32 = std::uint32_t;

constexpr Pixel32 MakePixel(int blue, int green, int red, int alpha)
{
    return static_cast<Pixel32>(blue & 0xFF) | static_cast<Pixel32>(green & 0xFF) << 8 |
           static_cast<Pixel32>(red & 0xFF) << 16 | static_cast<Pixel32>(alpha & 0xFF) << 24;
}
constexpr int PixelByte(Pixel32 pixel, int index)
{
    return static_cast<int>((pixel >> (8 * index)) & 0xFF);
}
constexpr int AlphaOf(Pixel32 pixel) { return PixelByte(pixel, 3); }

struct Image32 {
    int width = 0;
    int height = 0;
    std::vector<Pixel32> pixels; // width * height, top row first

    bool Empty() const { return width <= 0 || height <= 0; }
    Pixel32 At(int x, int y) const { return pixels[static_cast<std::size_t>(y) * width + x]; }
};

// A glyph pixel over a background pixel. Alpha 0 keeps the background,
// alpha 255 takes the glyph; between them each byte, alpha included, is
// (glyph * a + 128) / 256 + (background * (255 - a) + 128) / 256, the two
// halves rounded separately.
Pixel32 BlendPixel(Pixel32 glyph, Pixel32 background);

// Blue, green and red become (red * 30 + green * 59 + blue * 11) / 100; alpha kept.
Pixel32 GreyPixel(Pixel32 pixel);
void GreyImage(const Image32& source, Image32& target);

// The image resampled to width by height pixels, as a glyph is drawn at
// another number of dots per inch: each pixel averages the source pixels it
// covers, weighted by the area covered and, for the colour, by alpha, so
// that transparent pixels lend no colour to soft edges. Sizes below 1, or
// an empty source, give an empty image; sizes are capped at kMaxScaledSide.
constexpr int kMaxScaledSide = 1024;
Image32 ScaleImage(const Image32& source, int width, int height);
// Blends the glyph onto a target of width by height pixels (top row first)
// with the glyph's top-left corner at x, y; parts outside are left out.
void BlendImage(const Image32& glyph, Pixel32* target, int width, int height, int x, int y);

// Reads a bitmap file image ("BM") of 32 bits per pixel, uncompressed, rows
// bottom-up or top-down. False with a reason in `error` for anything else;
// `image` is then left as it was.
bool ParseBitmap32(const void* data, std::size_t size, Image32& image, std::string& error);
