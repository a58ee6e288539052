// The vertical zoom's steps and limits, and which zoom buttons can act.
#include <gtest/gtest.h>

#include <cmath>

#include "monitor/zoom_steps.h"

TEST(ZoomSteps, PowersOfTwoFromOneToTwoToThe23) {
    double zoom = MinZoom;
    EXPECT_EQ(ZoomedOut(zoom), MinZoom);
    for (int step = 1; step <= 23; ++step) {
        zoom = ZoomedIn(zoom);
        EXPECT_EQ(zoom, std::ldexp(1.0, step));
    }
    EXPECT_EQ(zoom, MaxZoom);
    EXPECT_EQ(ZoomedIn(zoom), MaxZoom);
    EXPECT_EQ(ZoomedOut(MaxZoom), 4194304);

    // Zoom in acts below the maximum, zoom out above 1; neither when disabled.
    EXPECT_TRUE(ZoomButtonStates(1, true).In);
    EXPECT_FALSE(ZoomButtonStates(1, true).Out);
    EXPECT_FALSE(ZoomButtonStates(MaxZoom, true).In);
    EXPECT_TRUE(ZoomButtonStates(MaxZoom, true).Out);
    EXPECT_FALSE(ZoomButtonStates(2, false).In || ZoomButtonStates(2, false).Out);
}
