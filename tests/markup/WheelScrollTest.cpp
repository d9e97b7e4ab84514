#include "markup/WheelScroll.h"

#include <gtest/gtest.h>

TEST(WheelScroll, TouchpadDeltasAddUpToNotches)
{
    WheelScroll wheel(39);
    EXPECT_EQ(wheel.Pixels(-120), -39) << "a notch towards the user scrolls down a notch's distance";
    EXPECT_EQ(wheel.Pixels(240), 78);

    int scrolled = 0;
    for (int i = 0; i < 12; ++i)
        scrolled += wheel.Pixels(-10);
    EXPECT_EQ(scrolled, -39) << "twelve touchpad deltas of 10 are one notch";

    WheelScroll fine(39);
    EXPECT_EQ(fine.Pixels(-1), 0) << "less than a pixel is kept";
    EXPECT_EQ(fine.Pixels(-3), -1);
    EXPECT_EQ(fine.Pixels(3), 0) << "turning back drops what was kept: no jump";
    EXPECT_EQ(fine.Pixels(1), 1) << "counted from the turn: 4 * 39 / 120";
    EXPECT_EQ(fine.Pixels(-1000000000), -325000000) << "huge deltas do not overflow";
}
