#include "Gradient.h"

#include <algorithm>
#include <cmath>

namespace {

int Channel(int from, int to, int band, int steps)
{
    return from + static_cast<int>(std::nearbyint(static_cast<double>(band) * (to - from) / steps));
}

} // namespace

std::vector<GradientBand> GradientBands(TColor from, TColor to, int steps, int extent)
{
    if (steps < 1)
        steps = 1;
    std::vector<GradientBand> bands;
    if (extent <= 0)
        return bands;
    bands.reserve(static_cast<std::size_t>(std::min(steps, extent)));
    for (int k = 0; k < steps; ++k) {
        const int start = static_cast<int>(static_cast<long long>(extent) * k / steps);
        const int end = static_cast<int>(static_cast<long long>(extent) * (k + 1) / steps);
        if (end <= start)
            continue;
        bands.push_back({start, end,
                         MakeColor(Channel(RedOf(from), RedOf(to), k, steps), Channel(GreenOf(from), GreenOf(to), k, steps),
                                   Channel(BlueOf(from), BlueOf(to), k, steps))});
    }
    return bands;
}

void FillGradient(MarkupCanvas& canvas, const MarkupRect& area, TColor from, TColor to, int steps, bool leftToRight)
{
    const int extent = leftToRight ? area.Width() : area.Height();
    for (const GradientBand& band : GradientBands(canvas.ToRGB(from), canvas.ToRGB(to), steps, extent)) {
        MarkupRect part = area;
        if (leftToRight) {
            part.left = area.left + band.from;
            part.right = area.left + band.to;
        } else {
            part.top = area.top + band.from;
            part.bottom = area.top + band.to;
        }
        canvas.FillRect(part, band.color);
    }
}
