#include "WheelScroll.h"

int WheelScroll::Pixels(int delta)
{
    if ((kept_ < 0 && delta > 0) || (kept_ > 0 && delta < 0))
        kept_ = 0;
    const long long total = kept_ + static_cast<long long>(delta) * pixelsPerNotch_;
    const long long pixels = total / kNotch;
    kept_ = total - pixels * kNotch;
    return static_cast<int>(pixels);
}
