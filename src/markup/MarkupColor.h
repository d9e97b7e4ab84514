#pragma once
// Colour values of the widgets, platform-free. A plain colour holds red in the
// low byte, then green, then blue (0x00BBGGRR); a system colour has the top
// bit set and the system colour index in the low byte; clNone means "no
// colour" wherever a colour is optional.
#include <cstdint>
#include <string_view>

using TColor = std::uint32_t;

constexpr TColor clNone = 0x1FFFFFFF;
constexpr TColor kSystemColorFlag = 0x80000000;

constexpr TColor clBlack = 0x000000;
constexpr TColor clMaroon = 0x000080;
constexpr TColor clGreen = 0x008000;
constexpr TColor clOlive = 0x008080;
constexpr TColor clNavy = 0x800000;
constexpr TColor clPurple = 0x800080;
constexpr TColor clTeal = 0x808000;
constexpr TColor clGray = 0x808080;
constexpr TColor clSilver = 0xC0C0C0;
constexpr TColor clRed = 0x0000FF;
constexpr TColor clLime = 0x00FF00;
constexpr TColor clYellow = 0x00FFFF;
constexpr TColor clBlue = 0xFF0000;
constexpr TColor clFuchsia = 0xFF00FF;
constexpr TColor clAqua = 0xFFFF00;
constexpr TColor clWhite = 0xFFFFFF;

constexpr TColor SystemColor(int index)
{
    return kSystemColorFlag | static_cast<TColor>(index & 0xFF);
}

constexpr TColor clHighlight = SystemColor(13);
constexpr TColor clHighlightText = SystemColor(14);
constexpr TColor clBtnFace = SystemColor(15);
constexpr TColor clBtnShadow = SystemColor(16);
constexpr TColor clBtnText = SystemColor(18);
constexpr TColor clBtnHighlight = SystemColor(20);
constexpr TColor clHotLight = SystemColor(26);

constexpr bool IsSystemColor(TColor color)
{
    return (color & kSystemColorFlag) != 0;
}

constexpr int SystemColorIndex(TColor color)
{
    return static_cast<int>(color & 0xFF);
}

constexpr int RedOf(TColor rgb) { return static_cast<int>(rgb & 0xFF); }
constexpr int GreenOf(TColor rgb) { return static_cast<int>((rgb >> 8) & 0xFF); }
constexpr int BlueOf(TColor rgb) { return static_cast<int>((rgb >> 16) & 0xFF); }

constexpr TColor MakeColor(int red, int green, int blue)
{
    return static_cast<TColor>(red & 0xFF) | static_cast<TColor>(green & 0xFF) << 8 |
           static_cast<TColor>(blue & 0xFF) << 16;
}

// A colour of the markup: "#RRGGBB" or a colour name such as "clRed" (any
// case). Unknown names give black. The hexadecimal digits are read the way
// the markup has always read them: only "0"-"9" and upper-case "A"-"F" are
// hexadecimal; any other character counts as its code minus 55 (minus 48
// below "A"), so a lower-case pair overflows into the next colour byte. A pair
// with fewer than two characters counts 0.
TColor ParseHTMLColor(std::string_view text);
