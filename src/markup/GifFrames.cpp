#include "GifFrames.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr std::size_t kScreenWidthOffset = 6;
constexpr std::size_t kScreenHeightOffset = 8;
// From a marker: the descriptor's introducer and its position and size fields.
constexpr std::size_t kDescriptorOffset = 8;
constexpr std::size_t kFrameXOffset = 9;
constexpr std::size_t kFrameYOffset = 11;
constexpr std::size_t kFrameWidthOffset = 13;
constexpr std::size_t kFrameHeightOffset = 15;

// A little-endian 16-bit value; 0 when it does not lie wholly in the data.
int Word(std::span<const std::uint8_t> data, std::size_t at)
{
    if (at >= data.size() || data.size() - at < 2)
        return 0;
    return data[at] | data[at + 1] << 8;
}

bool IsFrameMarker(std::span<const std::uint8_t> data, std::size_t i)
{
    return i + kDescriptorOffset < data.size() && data[i] == 0x21 && data[i + 1] == 0xF9 && data[i + 2] == 0x04 &&
           data[i + kDescriptorOffset] == 0x2C;
}

std::vector<std::size_t> FrameMarkers(std::span<const std::uint8_t> data)
{
    std::vector<std::size_t> markers;
    for (std::size_t i = 0; i + kDescriptorOffset < data.size(); ++i) {
        const void* next = std::memchr(data.data() + i, 0x21, data.size() - kDescriptorOffset - i);
        if (!next)
            break;
        i = static_cast<std::size_t>(static_cast<const std::uint8_t*>(next) - data.data());
        if (IsFrameMarker(data, i))
            markers.push_back(i);
    }
    return markers;
}

} // namespace

bool IsGifData(std::span<const std::uint8_t> data)
{
    return data.size() >= 5 && std::memcmp(data.data(), "GIF8", 4) == 0;
}

int CountGifFrames(std::span<const std::uint8_t> data)
{
    if (!IsGifData(data))
        return -1;
    return static_cast<int>(FrameMarkers(data).size());
}

GifSelection SelectGifFrame(std::span<const std::uint8_t> data, int frame)
{
    GifSelection selection;
    const std::vector<std::size_t> markers = IsGifData(data) ? FrameMarkers(data) : std::vector<std::size_t>{};
    if (markers.empty()) {
        selection.data.assign(data.begin(), data.end());
        return selection;
    }
    const int count = static_cast<int>(markers.size());
    selection.frame = std::clamp(frame, 1, count);
    selection.screenWidth = Word(data, kScreenWidthOffset);
    selection.screenHeight = Word(data, kScreenHeightOffset);
    const std::size_t chosen = markers[static_cast<std::size_t>(selection.frame - 1)];
    selection.position = {Word(data, chosen + kFrameXOffset), Word(data, chosen + kFrameYOffset),
                          Word(data, chosen + kFrameWidthOffset), Word(data, chosen + kFrameHeightOffset)};
    selection.data.reserve(data.size() - (chosen - markers.front()));
    selection.data.assign(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(markers.front()));
    selection.data.insert(selection.data.end(), data.begin() + static_cast<std::ptrdiff_t>(chosen), data.end());
    return selection;
}
