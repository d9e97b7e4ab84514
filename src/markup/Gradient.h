#pragma once
// Gradient bands, platform-free: the colour of each band and the part of the
// extent it covers.
#include "markup/MarkupCanvas.h"
#include "markup/MarkupColor.h"

#include <vector>

struct GradientBand {
    int from = 0; // offset into the extent, inclusive
    int to = 0;   // exclusive
    TColor color = clBlack;
};

// `steps` bands (at least one, whatever is asked) from plain colour `from`
// to plain colour `to` over `extent` pixels. Band k has each channel equal to
// start + k * (end - start) / steps, rounded to the nearest integer with
// halves to even, and covers its share of the extent; bands that would cover
// no pixel are left out.
std::vector<GradientBand> GradientBands(TColor from, TColor to, int steps, int extent);

// Fills the area with the bands of a gradient between two colour values
// (system colours looked up by the canvas), side by side with the colour
// changing from left to right, or stacked from top to bottom.
void FillGradient(MarkupCanvas& canvas, const MarkupRect& area, TColor from, TColor to, int steps, bool leftToRight);
