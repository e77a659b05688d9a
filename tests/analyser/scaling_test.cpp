// SPDX-License-Identifier: GPL-3.0-or-later
#include "analyser/scaling.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <span>
#include <vector>

using namespace analyser;

namespace {

Rgb Colour(double level, int hue) {
    return SplitColour(LevelToColour(level, hue));
}

} // namespace

TEST(ColourMap, TableAtStartUpHue) {
    struct Row {
        double level;
        Rgb want;
    };
    const Row rows[] = {{0, {0, 0, 0}},         {32, {4, 60, 50}},      {64, {16, 112, 95}},
                        {128, {65, 191, 169}},  {160, {125, 195, 183}}, {224, {220, 228, 226}},
                        {254, {254, 254, 254}}, {255, {255, 255, 255}}, {1000, {255, 255, 255}},
                        {-1, {0, 0, 0}},        {-1e300, {0, 0, 0}}};
    for (const Row& r : rows) EXPECT_EQ(Colour(r.level, 120), r.want) << r.level;
    EXPECT_EQ(Colour(std::numeric_limits<double>::quiet_NaN(), 120), (Rgb{0, 0, 0}));
    EXPECT_EQ(Colour(std::numeric_limits<double>::infinity(), 120), (Rgb{255, 255, 255}));
}

TEST(ColourMap, OtherHuesBrightnessAndPacking) {
    EXPECT_EQ(Colour(128, 0), (Rgb{191, 65, 65}));
    EXPECT_EQ(Colour(128, 212), (Rgb{191, 65, 191}));
    EXPECT_EQ(Colour(200, 120), (Rgb{188, 212, 208})); // a zero level at brightness 200
    // red + 256 green + 65536 blue
    EXPECT_EQ(LevelToColour(128, 120), 65 + 256 * 191 + 65536 * 169);
    EXPECT_EQ(ColourToArgb(LevelToColour(128, 120)), 0xFF41BFA9u);
    for (int hue = 0; hue <= 212; ++hue) {
        for (double level = 0; level <= 256; level += 0.5) {
            const Rgb c = Colour(level, hue);
            ASSERT_TRUE(c.red >= 0 && c.red <= 255 && c.green >= 0 && c.green <= 255 &&
                        c.blue >= 0 && c.blue <= 255)
                << hue << " " << level;
        }
    }
}

TEST(ColourMap, ARowMapAtOneHueGivesLevelToColoursColoursExactly) {
    std::vector<double> levels = {-1e300,
                                  -1,
                                  -0.0,
                                  127.5,
                                  std::nextafter(127.5, 0.0),
                                  std::nextafter(127.5, 255.0),
                                  std::nextafter(255.0, 0.0),
                                  255,
                                  1e300,
                                  std::numeric_limits<double>::quiet_NaN(),
                                  std::numeric_limits<double>::infinity(),
                                  -std::numeric_limits<double>::infinity()};
    for (double level = -2; level <= 258; level += 1.0 / 64) levels.push_back(level);
    std::mt19937_64 random(7);
    std::uniform_real_distribution<double> anywhere(-10, 265);
    for (int i = 0; i < 4000; ++i) levels.push_back(anywhere(random));
    // Beyond the bar's 0..212 too, so that every wrap and every part of the ramp is taken.
    std::vector<int32_t> row(levels.size());
    for (int hue = -90; hue <= 350; ++hue) {
        const HueColourMap map(hue);
        for (double level : levels)
            ASSERT_EQ(map(level), LevelToColour(level, hue)) << "hue " << hue << " level " << level;
        // A row at a time, also where its length leaves a few levels over.
        for (const std::size_t n : {levels.size(), std::size_t{781}, std::size_t{7}}) {
            const std::size_t from = levels.size() - n;
            std::fill(row.begin(), row.end(), -1);
            map.Row(std::span(levels).subspan(from), row);
            for (std::size_t i = 0; i < n; ++i)
                ASSERT_EQ(row[i], LevelToColour(levels[from + i], hue))
                    << "hue " << hue << " level " << levels[from + i] << " in a row of " << n;
            if (n < row.size()) {
                ASSERT_EQ(row[n], -1) << "written beyond the row";
            }
        }
    }
}

TEST(ColourMap, HueToComponentThresholdsAndWrapping) {
    const double M2 = 200, M1 = 50;
    EXPECT_EQ(HueToComponent(0, M2, M1), 50);
    EXPECT_EQ(HueToComponent(41, M2, M1), 195); // still rising
    EXPECT_EQ(HueToComponent(42, M2, M1), 200);
    EXPECT_EQ(HueToComponent(127, M2, M1), 200);
    EXPECT_EQ(HueToComponent(128, M2, M1), 198); // already falling
    EXPECT_EQ(HueToComponent(169, M2, M1), 54);
    EXPECT_EQ(HueToComponent(170, M2, M1), 50);
    EXPECT_EQ(HueToComponent(256, M2, M1), HueToComponent(1, M2, M1));
    EXPECT_EQ(HueToComponent(1, M2, M1), 54);
    EXPECT_EQ(HueToComponent(-1, M2, M1), 50); // acts as 254, not as a ramp below 0
    EXPECT_EQ(HueToComponent(255, M2, M1), 50);
    EXPECT_EQ(HueToComponent(297, M2, M1), 200); // 42 after one wrap
    EXPECT_EQ(HueToComponent(-85, M2, M1), 50);  // 170 after one wrap
    EXPECT_EQ(HueToComponent(-44, M2, M1), 50);  // 211 after one wrap
}

TEST(Mappings, ScrollBarExtremes) {
    EXPECT_EQ(ContrastFor(1), 1.5);
    EXPECT_NEAR(HumDivisorFor(ContrastFor(1)), 1.167, 1e-12);
    EXPECT_EQ(ContrastFor(9), 38.443359375);
    EXPECT_NEAR(HumDivisorFor(ContrastFor(9)), 13.481453125, 1e-12);
    EXPECT_EQ(ContrastFor(14), 291.92926025390625);
    EXPECT_NEAR(HumDivisorFor(ContrastFor(14)), 97.97675341796875, 1e-11);

    EXPECT_EQ(SleepMsFor(0), 0);
    EXPECT_EQ(SleepMsFor(5), 7);
    EXPECT_EQ(SleepMsFor(50), 109);
    EXPECT_EQ(SleepMsFor(200), 577);
    EXPECT_EQ(SleepMsFor(-3), 0);

    EXPECT_NEAR(ShiftFor(50), 0.454545454545, 1e-11);
    EXPECT_NEAR(ShiftFor(-50), -0.454545454545, 1e-11);
    EXPECT_EQ(ShiftFor(0), 0.0);
    EXPECT_EQ(GainFor(10), 10.0);

    const int rates[] = {1024, 2048, 4096, 8192, 16384, 32768};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(SampleRateFor(i), rates[i]);
        EXPECT_EQ(ResolutionFor(i), 1 << i);
        // the highest resolution offered at each rate keeps the transform at 32768
        EXPECT_EQ(ResolutionFor(ResolutionTopFor(i)) * SampleRateFor(i), 32768);
    }
}

TEST(Bins, UpdateBinsExamplesWith780Columns) {
    const BinPlan low = PlanBins(1, 1024, 780);
    EXPECT_EQ(low.fftSize, 1024);
    EXPECT_EQ(low.highestBin, 511);
    EXPECT_FALSE(low.rangeEnabled);
    const BinRange all = RangeFor(low, 57, 1, 780); // a kept bar value is ignored
    EXPECT_EQ(all.first, 0);
    EXPECT_EQ(all.last, 511);
    EXPECT_EQ(RangeCaption(all.low, all.high), "1 - 781");
    EXPECT_EQ(FftCaption(low.fftSize), "FFT: 1024 Bins");

    const BinPlan start = PlanBins(1, 2048, 780);
    EXPECT_EQ(start.highestBin, 1023);
    EXPECT_TRUE(start.rangeEnabled);
    EXPECT_EQ(start.rangeMax, 242);
    const BinRange r0 = RangeFor(start, 0, 1, 780);
    EXPECT_EQ(r0.first, 0);
    EXPECT_EQ(r0.last, 780);
    EXPECT_EQ(RangeCaption(r0.low, r0.high), "1 - 781");
    const BinRange r242 = RangeFor(start, 242, 1, 780);
    EXPECT_EQ(r242.first, 242);
    EXPECT_EQ(r242.last, 1022);
    EXPECT_EQ(RangeCaption(r242.low, r242.high), "243 - 1023");

    const BinPlan x4 = PlanBins(4, 2048, 780);
    EXPECT_EQ(FftCaption(x4.fftSize), "FFT: 8192 Bins");
    EXPECT_EQ(x4.rangeMax, 3314);
    const BinRange r100 = RangeFor(x4, 100, 4, 780);
    EXPECT_EQ(r100.first, 100);
    EXPECT_EQ(r100.last, 880);
    EXPECT_EQ(RangeCaption(r100.low, r100.high), "26 - 221");

    // A value left above a lowered Max never runs past the last bin.
    const BinRange clamped = RangeFor(start, 3314, 1, 780);
    EXPECT_EQ(clamped.first, 242);
    EXPECT_EQ(clamped.last, start.highestBin - 1);
    EXPECT_EQ(RangeFor(start, -4, 1, 780).first, 0);

    // Every offered combination draws at most waterWidth + 1 bins, all below half the length.
    for (int index = 0; index < 6; ++index) {
        for (int v = 0; v <= ResolutionTopFor(index); ++v) {
            const int r = ResolutionFor(v);
            const BinPlan p = PlanBins(r, SampleRateFor(index), 780);
            EXPECT_EQ(p.fftSize, r * SampleRateFor(index));
            for (int value : {0, p.rangeMax / 2, p.rangeMax, p.rangeMax + 5}) {
                const BinRange b = RangeFor(p, value, r, 780);
                EXPECT_LE(b.last - b.first, 780);
                EXPECT_LT(b.last, p.fftSize / 2);
            }
        }
    }
}

TEST(Captions, Texts) {
    EXPECT_EQ(ResolutionCaption(4), "x 4");
    EXPECT_EQ(BufferingCaption(2), "Buffering - Please wait 2 Secs");
    EXPECT_EQ(FftCaption(32768), "FFT: 32768 Bins");
    EXPECT_EQ(RangeCaption(1, 16384), "1 - 16384");
}
