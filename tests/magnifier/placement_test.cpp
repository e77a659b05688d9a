// SPDX-License-Identifier: GPL-3.0-or-later
#include "magnifier/placement.h"

#include <gtest/gtest.h>

using namespace magnifier;

namespace {
const QSize kScreen(1920, 1080);
const QSize kWindow(202, 202);
} // namespace

TEST(Placement, FourPlacements) {
    EXPECT_EQ(MagnifierTopLeft({500, 400}, kScreen, kWindow), QPoint(520, 420));
    EXPECT_EQ(MagnifierTopLeft({1800, 400}, kScreen, kWindow), QPoint(1718, 420));
    EXPECT_EQ(MagnifierTopLeft({500, 1000}, kScreen, kWindow), QPoint(520, 878));
    // Both edges: the window's bottom-right corner goes 20 px above and left of the pointer.
    EXPECT_EQ(MagnifierTopLeft({1800, 1000}, kScreen, kWindow), QPoint(1578, 778));
    EXPECT_EQ(MagnifierTopLeft({1919, 1079}, kScreen, kWindow), QPoint(1697, 857));
    // One pixel short of both edges nothing is corrected.
    EXPECT_EQ(MagnifierTopLeft({1697, 857}, kScreen, kWindow), QPoint(1717, 877));
}

// The window never shows itself: it touches the magnified square at most.
TEST(Placement, WindowNeverCoversTheMagnifiedSquare) {
    for (int x = 0; x < kScreen.width(); x += 7) {
        for (int y = 0; y < kScreen.height(); y += 7) {
            const QPoint p(x, y);
            const QRect window(MagnifierTopLeft(p, kScreen, kWindow), kWindow);
            ASSERT_FALSE(window.intersects(MagnifiedSource(p))) << x << "," << y;
            ASSERT_FALSE(window.contains(p)) << x << "," << y;
        }
    }
}

TEST(Placement, SourceSquare) {
    EXPECT_EQ(MagnifiedSource({100, 50}), QRect(80, 30, 40, 40));
    EXPECT_EQ(MagnifiedSource({100, 50}).right(), 119);
    EXPECT_EQ(MagnifiedSource({0, 0}), QRect(-20, -20, 40, 40));
}

TEST(Cross, MergePenNotColours) {
    const uint32_t red = 0xFFFF0000u;
    EXPECT_EQ(MergePenNot(red, 0xFF000000u), 0xFFFFFFFFu); // on black: white
    EXPECT_EQ(MergePenNot(red, 0xFFFFFFFFu), 0xFFFF0000u); // on white: red
    EXPECT_EQ(MergePenNot(red, 0xFF808080u), 0xFFFF7F7Fu); // on mid grey
    EXPECT_EQ(MergePenNot(red, 0x00123456u), 0xFFFFCBA9u); // opaque whatever the alpha
    EXPECT_EQ(MergePenNot(0x00FF0000u, 0xFF000000u), 0xFFFFFFFFu);
}
