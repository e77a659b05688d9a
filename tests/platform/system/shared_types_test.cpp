// SPDX-License-Identifier: GPL-3.0-or-later
// The shared value types every layer uses: the packed colour and the rounding of doubles.
#include "platform/system/colour.h"
#include "platform/system/rounding.h"

#include <QColor>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

using namespace platform;

namespace {

TEST(SharedTypesTest, PackedColourIsRedPlus256GreenPlus65536Blue) {
    static_assert(PackColour(1, 2, 3) == 1 + 256 * 2 + 65536 * 3);
    EXPECT_EQ(PackColour(255, 0, 0), 0x0000FF);
    EXPECT_EQ(PackColour(0, 0, 255), 0xFF0000);
    EXPECT_EQ(SplitColour(PackColour(4, 60, 50)), (Rgb{4, 60, 50}));
    EXPECT_EQ(SplitColour(0x7F123456), (Rgb{0x56, 0x34, 0x12})) << "bits above 24 are ignored";
    // The pixel form is what QImage and QColor hold: 0xAARRGGBB, opaque.
    EXPECT_EQ(ColourToArgb(PackColour(65, 191, 169)), 0xFF41BFA9u);
    EXPECT_EQ(QColor::fromRgb(ColourToArgb(PackColour(4, 60, 50))), QColor(4, 60, 50));
    EXPECT_EQ(ColourToArgb(0), 0xFF000000u);
}

TEST(SharedTypesTest, RoundingTakesHalvesToEvenAndSaturates) {
    EXPECT_EQ(rnd(42.5), 42);
    EXPECT_EQ(rnd(127.5), 128);
    EXPECT_EQ(rnd(-2.5), -2);
    EXPECT_EQ(rnd(-3.5), -4);
    EXPECT_EQ(rnd(0.49999999999999994), 0);
    EXPECT_EQ(rnd(2.5000001), 3);
    EXPECT_EQ(rnd(3e9), std::numeric_limits<std::int32_t>::max());
    EXPECT_EQ(rnd(-3e9), std::numeric_limits<std::int32_t>::min());
    EXPECT_EQ(rnd(std::numeric_limits<double>::infinity()),
              std::numeric_limits<std::int32_t>::max());
    EXPECT_EQ(rnd(std::nan("")), 0);
    EXPECT_EQ(rnd(2147483646.5), 2147483646);
}

TEST(SharedTypesTest, RoundingEqualsNearbyintEverywhereInRangeAndAtItsEdges) {
    const auto reference = [](double x) -> std::int32_t {
        if (std::isnan(x)) return 0;
        const double r = std::nearbyint(x);
        if (r >= 2147483647.0) return std::numeric_limits<std::int32_t>::max();
        if (r <= -2147483648.0) return std::numeric_limits<std::int32_t>::min();
        return static_cast<std::int32_t>(r);
    };
    std::vector<double> values = {
        2147483647.0,  2147483646.5,  2147483646.7, 2147483647.5, -2147483648.0, -2147483647.5,
        -2147483648.5, -2147483648.7, -0.5,         0.5,          1.5,           -1.5,
        -0.0,          254.5,         255.5,        1e-310,       -1e-310};
    for (double v : {2147483647.0, -2147483648.0, 0.5, 127.5})
        for (int steps = 1; steps < 4; ++steps) {
            double up = v, down = v;
            for (int i = 0; i < steps; ++i) {
                up = std::nextafter(up, HUGE_VAL);
                down = std::nextafter(down, -HUGE_VAL);
            }
            values.push_back(up);
            values.push_back(down);
        }
    std::mt19937_64 random(11);
    std::uniform_real_distribution<double> wide(-3e9, 3e9), narrow(-300, 300);
    for (int i = 0; i < 100000; ++i) {
        values.push_back(wide(random));
        values.push_back(narrow(random));
        values.push_back(std::round(narrow(random)) + 0.5); // ties
    }
    for (double v : values) ASSERT_EQ(rnd(v), reference(v)) << std::hexfloat << v;
}

} // namespace
