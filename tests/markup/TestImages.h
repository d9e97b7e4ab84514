#pragma once
// Small images built in memory for the picture tests: a GIF with one solid
// frame per colour index and a 24-bit bitmap of one colour.
#include <cstdint>
#include <vector>

// Palette of the built GIFs: 0 black, 1 red, 2 green, 3 blue.
std::vector<std::uint8_t> MakeGif(int width, int height, const std::vector<int>& frameColors);
std::vector<std::uint8_t> MakeBmp(int width, int height, std::uint8_t red, std::uint8_t green, std::uint8_t blue);
