#include "TestImages.h"

#include <algorithm>
#include <cstddef>

namespace {

void PutWord(std::vector<std::uint8_t>& out, int value)
{
    out.push_back(static_cast<std::uint8_t>(value & 0xFF));
    out.push_back(static_cast<std::uint8_t>((value >> 8) & 0xFF));
}

void PutDword(std::vector<std::uint8_t>& out, std::uint32_t value)
{
    PutWord(out, static_cast<int>(value & 0xFFFF));
    PutWord(out, static_cast<int>(value >> 16));
}

class BitWriter {
public:
    void Put(int code, int bits)
    {
        for (int i = 0; i < bits; ++i) {
            if (used_ == 0)
                bytes_.push_back(0);
            if (code & (1 << i))
                bytes_.back() |= static_cast<std::uint8_t>(1 << used_);
            used_ = (used_ + 1) % 8;
        }
    }
    const std::vector<std::uint8_t>& Bytes() const { return bytes_; }

private:
    std::vector<std::uint8_t> bytes_;
    int used_ = 0;
};

// LZW data that never grows the code table past 3-bit codes: a clear code
// before every second pixel.
std::vector<std::uint8_t> SolidImageData(int pixels, int color)
{
    constexpr int kClear = 4, kEnd = 5, kBits = 3;
    BitWriter writer;
    for (int i = 0; i < pixels; ++i) {
        if (i % 2 == 0)
            writer.Put(kClear, kBits);
        writer.Put(color, kBits);
    }
    writer.Put(kEnd, kBits);
    return writer.Bytes();
}

} // namespace

std::vector<std::uint8_t> MakeGif(int width, int height, const std::vector<int>& frameColors)
{
    std::vector<std::uint8_t> out = {'G', 'I', 'F', '8', '9', 'a'};
    PutWord(out, width);
    PutWord(out, height);
    out.insert(out.end(), {0xF1, 0x00, 0x00});
    out.insert(out.end(), {0, 0, 0, 255, 0, 0, 0, 255, 0, 0, 0, 255});
    for (const int color : frameColors) {
        out.insert(out.end(), {0x21, 0xF9, 0x04, 0x00, 0x0A, 0x00, 0x00, 0x00, 0x2C});
        PutWord(out, 0);
        PutWord(out, 0);
        PutWord(out, width);
        PutWord(out, height);
        out.push_back(0x00);
        out.push_back(0x02);
        const std::vector<std::uint8_t> data = SolidImageData(width * height, color);
        for (std::size_t at = 0; at < data.size(); at += 255) {
            const std::size_t block = std::min<std::size_t>(255, data.size() - at);
            out.push_back(static_cast<std::uint8_t>(block));
            out.insert(out.end(), data.begin() + static_cast<std::ptrdiff_t>(at),
                       data.begin() + static_cast<std::ptrdiff_t>(at + block));
        }
        out.push_back(0x00);
    }
    out.push_back(0x3B);
    return out;
}

std::vector<std::uint8_t> MakeBmp(int width, int height, std::uint8_t red, std::uint8_t green, std::uint8_t blue)
{
    const int stride = (width * 3 + 3) / 4 * 4;
    const std::uint32_t pixelBytes = static_cast<std::uint32_t>(stride * height);
    std::vector<std::uint8_t> out = {'B', 'M'};
    PutDword(out, 54 + pixelBytes);
    PutDword(out, 0);
    PutDword(out, 54);
    PutDword(out, 40);
    PutDword(out, static_cast<std::uint32_t>(width));
    PutDword(out, static_cast<std::uint32_t>(height));
    PutWord(out, 1);
    PutWord(out, 24);
    for (int i = 0; i < 6; ++i)
        PutDword(out, 0);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
            out.insert(out.end(), {blue, green, red});
        out.insert(out.end(), static_cast<std::size_t>(stride - width * 3), 0);
    }
    return out;
}
