#pragma once
// Frames of animated GIF data, platform-free. A frame starts at a graphic
// control extension directly followed by an image descriptor; every offset
// is checked against the data, so truncated or hostile data gives fewer
// frames or zero sizes, never a read past the end.
#include <cstdint>
#include <span>
#include <vector>

struct GifFrame {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

struct GifSelection {
    std::vector<std::uint8_t> data; // the bytes to decode
    int frame = 1;                  // the frame chosen, after clamping
    GifFrame position;              // its place on the logical screen
    int screenWidth = 0;            // the logical screen, 0 when unknown
    int screenHeight = 0;
};

// At least 5 bytes beginning with "GIF8".
bool IsGifData(std::span<const std::uint8_t> data);
// -1 for data that is not GIF, else the number of frame markers.
int CountGifFrames(std::span<const std::uint8_t> data);
// The data to decode for frame `frame` (clamped to 1..frame count): the
// bytes of the frames before it are left out, so a decoder that shows the
// first image shows this one. Data that is not GIF or has no frame marker is
// returned whole.
GifSelection SelectGifFrame(std::span<const std::uint8_t> data, int frame);
