#include "AlphaPixels.h"

#include <algorithm>
#include <utility>

namespace {

// Unsigned, so that the divisions by 256 are plain shifts.
Pixel32 BlendByte(Pixel32 glyph, Pixel32 background, Pixel32 alpha)
{
    return (glyph * alpha + 128) / 256 + (background * (255 - alpha) + 128) / 256;
}

std::uint32_t ReadU32(const unsigned char* at)
{
    return static_cast<std::uint32_t>(at[0]) | static_cast<std::uint32_t>(at[1]) << 8 |
           static_cast<std::uint32_t>(at[2]) << 16 | static_cast<std::uint32_t>(at[3]) << 24;
}

std::uint16_t ReadU16(const unsigned char* at)
{
    return static_cast<std::uint16_t>(at[0] | at[1] << 8);
}

constexpr std::size_t kFileHeaderSize = 14;
constexpr std::size_t kInfoHeaderSize = 40;
constexpr std::uint32_t kBiRgb = 0;
constexpr std::uint32_t kBiBitfields = 3;
// Glyphs are small; the cap keeps a corrupt header from asking for gigabytes.
constexpr std::int64_t kMaxPixels = 16 * 1024 * 1024;

} // namespace

Pixel32 BlendPixel(Pixel32 glyph, Pixel32 background)
{
    const Pixel32 alpha = glyph >> 24;
    if (alpha == 0)
        return background;
    if (alpha == 255)
        return glyph;
    Pixel32 result = 0;
    for (int shift = 0; shift < 32; shift += 8)
        result |= BlendByte(glyph >> shift & 0xFF, background >> shift & 0xFF, alpha) << shift;
    return result;
}

Image32 ScaleImage(const Image32& source, int width, int height)
{
    Image32 scaled;
    if (source.Empty() || width < 1 || height < 1)
        return scaled;
    scaled.width = std::min(width, kMaxScaledSide);
    scaled.height = std::min(height, kMaxScaledSide);
    scaled.pixels.resize(static_cast<std::size_t>(scaled.width) * scaled.height);
    const double stepX = static_cast<double>(source.width) / scaled.width;
    const double stepY = static_cast<double>(source.height) / scaled.height;
    for (int y = 0; y < scaled.height; ++y) {
        const double top = y * stepY, bottom = (y + 1) * stepY;
        const int lastRow = std::min(source.height - 1, static_cast<int>(bottom));
        for (int x = 0; x < scaled.width; ++x) {
            const double left = x * stepX, right = (x + 1) * stepX;
            const int lastColumn = std::min(source.width - 1, static_cast<int>(right));
            double sums[4] = {};
            double area = 0;
            for (int sy = static_cast<int>(top); sy <= lastRow; ++sy) {
                const double coverY = std::min(bottom, sy + 1.0) - std::max(top, static_cast<double>(sy));
                for (int sx = static_cast<int>(left); sx <= lastColumn && coverY > 0; ++sx) {
                    const double cover = (std::min(right, sx + 1.0) - std::max(left, static_cast<double>(sx))) * coverY;
                    if (cover <= 0)
                        continue;
                    const Pixel32 pixel = source.At(sx, sy);
                    const double weight = AlphaOf(pixel) * cover;
                    for (int i = 0; i < 3; ++i)
                        sums[i] += PixelByte(pixel, i) * weight;
                    sums[3] += weight;
                    area += cover;
                }
            }
            const auto channel = [&](int i) {
                return sums[3] > 0 ? static_cast<int>(sums[i] / sums[3] + 0.5) : 0;
            };
            const int alpha = area > 0 ? static_cast<int>(sums[3] / area + 0.5) : 0;
            scaled.pixels[static_cast<std::size_t>(y) * scaled.width + x] =
                MakePixel(channel(0), channel(1), channel(2), alpha);
        }
    }
    return scaled;
}

Pixel32 GreyPixel(Pixel32 pixel)
{
    const int grey = (PixelByte(pixel, 2) * 30 + PixelByte(pixel, 1) * 59 + PixelByte(pixel, 0) * 11) / 100;
    return MakePixel(grey, grey, grey, AlphaOf(pixel));
}

void GreyImage(const Image32& source, Image32& target)
{
    target.width = source.width;
    target.height = source.height;
    target.pixels.resize(source.pixels.size());
    std::transform(source.pixels.begin(), source.pixels.end(), target.pixels.begin(), GreyPixel);
}

void BlendImage(const Image32& glyph, Pixel32* target, int width, int height, int x, int y)
{
    const int left = std::max(0, x), top = std::max(0, y);
    const int right = std::min(width, x + glyph.width), bottom = std::min(height, y + glyph.height);
    for (int row = top; row < bottom; ++row) {
        const Pixel32* from = &glyph.pixels[static_cast<std::size_t>(row - y) * glyph.width + (left - x)];
        Pixel32* to = target + static_cast<std::size_t>(row) * width + left;
        for (int column = left; column < right; ++column, ++from, ++to)
            *to = BlendPixel(*from, *to);
    }
}

bool ParseBitmap32(const void* data, std::size_t size, Image32& image, std::string& error)
{
    const auto* bytes = static_cast<const unsigned char*>(data);
    if (!bytes || size < kFileHeaderSize + kInfoHeaderSize || bytes[0] != 'B' || bytes[1] != 'M') {
        error = "not a bitmap file";
        return false;
    }
    const unsigned char* info = bytes + kFileHeaderSize;
    const std::uint32_t infoSize = ReadU32(info);
    const std::int64_t width = static_cast<std::int32_t>(ReadU32(info + 4));
    const std::int64_t rawHeight = static_cast<std::int32_t>(ReadU32(info + 8));
    const std::uint16_t bits = ReadU16(info + 14);
    const std::uint32_t compression = ReadU32(info + 16);
    const std::uint32_t offset = ReadU32(bytes + 10);
    if (infoSize < kInfoHeaderSize || bits != 32 || (compression != kBiRgb && compression != kBiBitfields)) {
        error = "not an uncompressed bitmap of 32 bits per pixel";
        return false;
    }
    const std::int64_t height = rawHeight < 0 ? -rawHeight : rawHeight;
    if (width <= 0 || height <= 0 || width * height > kMaxPixels) {
        error = "bitmap size out of range";
        return false;
    }
    const std::uint64_t pixelBytes = static_cast<std::uint64_t>(width * height) * 4;
    if (offset < kFileHeaderSize + infoSize || offset > size || size - offset < pixelBytes) {
        error = "bitmap data cut short";
        return false;
    }
    Image32 result;
    result.width = static_cast<int>(width);
    result.height = static_cast<int>(height);
    result.pixels.resize(static_cast<std::size_t>(width * height));
    const std::size_t rowBytes = static_cast<std::size_t>(width) * 4;
    for (int row = 0; row < result.height; ++row) {
        const int sourceRow = rawHeight > 0 ? result.height - 1 - row : row;
        const unsigned char* from = bytes + offset + static_cast<std::size_t>(sourceRow) * rowBytes;
        for (int column = 0; column < result.width; ++column)
            result.pixels[static_cast<std::size_t>(row) * result.width + column] = ReadU32(from + 4 * column);
    }
    image = std::move(result);
    return true;
}
