#pragma once
// Mouse-wheel rotation turned into pixels to scroll, platform-free. A wheel
// notch (a delta of 120) scrolls a fixed distance; a precision touchpad
// reports small deltas, each a fraction of a notch, whose sum scrolls the
// same distance as the notches they add up to: what is left below a pixel is
// kept for the next delta, and dropped when the rotation turns the other way.
class WheelScroll {
public:
    static constexpr int kNotch = 120;

    explicit WheelScroll(int pixelsPerNotch) : pixelsPerNotch_(pixelsPerNotch) {}

    // Pixels for one wheel message's delta: positive when the wheel turned
    // away from the user (the text moves down, towards its start).
    int Pixels(int delta);

private:
    int pixelsPerNotch_;
    long long kept_ = 0; // in 1/kNotch pixels
};
