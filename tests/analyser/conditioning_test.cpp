// SPDX-License-Identifier: GPL-3.0-or-later
#include "analyser/conditioning.h"
#include "platform/system/rounding.h"

#include <gtest/gtest.h>

#include <cmath>
#include <deque>
#include <limits>
#include <random>
#include <vector>

using namespace analyser;
using platform::rnd;

namespace {

std::vector<double> FeedOnes(std::span<const double> kernel, int calls) {
    tColumnHistory h;
    std::vector<double> out;
    for (int i = 0; i < calls; ++i) out.push_back(ConditionLevel(1.0, kernel, h));
    return out;
}

} // namespace

TEST(Rounding, TiesGoToEvenAndOutOfRangeSaturates) {
    EXPECT_EQ(rnd(42.5), 42);
    EXPECT_EQ(rnd(127.5), 128);
    EXPECT_EQ(rnd(2.5), 2);
    EXPECT_EQ(rnd(3.5), 4);
    EXPECT_EQ(rnd(-2.5), -2);
    EXPECT_EQ(rnd(-0.5), 0);
    EXPECT_EQ(rnd(2.5000001), 3);
    EXPECT_EQ(rnd(std::numeric_limits<double>::quiet_NaN()), 0);
    EXPECT_EQ(rnd(1e12), std::numeric_limits<int32_t>::max());
    EXPECT_EQ(rnd(-1e12), std::numeric_limits<int32_t>::min());
    EXPECT_EQ(rnd(std::numeric_limits<double>::infinity()), std::numeric_limits<int32_t>::max());
    EXPECT_EQ(rnd(2147483646.4), 2147483646);
}

TEST(Filters, KernelsAreTheRoundedDecimalsAndSumToOne) {
    for (std::span<const double> k :
         {std::span<const double>(KernelNone), std::span<const double>(KernelSavGol),
          std::span<const double>(KernelWeighted)}) {
        double sum = 0;
        for (double c : k) sum += c;
        EXPECT_NEAR(sum, 1.0, 1e-12);
    }
    const double exact[] = {3, -5, -3, 9, 31};
    for (size_t i = 0; i < KernelSavGol.size(); ++i) {
        EXPECT_NEAR(KernelSavGol[i], exact[i] / 35, 0.0005);
        EXPECT_NE(KernelSavGol[i], exact[i] / 35); // the decimals, not the fractions
    }
}

TEST(Filters, StepResponsesFromAnEmptyHistory) {
    const auto weighted = FeedOnes(KernelWeighted, 9);
    const double wantWeighted[] = {0.3, 0.6, 0.8, 0.9, 0.95, 0.98, 1.0, 1.0, 1.0};
    for (size_t i = 0; i < weighted.size(); ++i)
        EXPECT_NEAR(weighted[i], wantWeighted[i], 1e-12) << i;

    const auto savgol = FeedOnes(KernelSavGol, 7);
    const double wantSavGol[] = {0.886, 1.143, 1.057, 0.914, 1.0, 1.0, 1.0};
    for (size_t i = 0; i < savgol.size(); ++i) EXPECT_NEAR(savgol[i], wantSavGol[i], 1e-12) << i;

    tColumnHistory h;
    h.aValues = {9, 8, 7, 6, 5, 4, 3};
    for (double x : {0.25, -3.0, 1e300, 7.0}) EXPECT_EQ(ConditionLevel(x, KernelNone, h), x);
    EXPECT_EQ(h.nuPos, 0);
    EXPECT_EQ(h.aValues[0], 7.0);
}

// The output must be the kernel applied to this column's own past inputs, added newest
// first, bit for bit; a wrong ring step, slot or summation order shows up here.
TEST(Filters, MatchesDirectConvolutionBitForBit) {
    std::mt19937 gen(7);
    std::uniform_real_distribution<double> level(0.0, 3.0);
    for (std::span<const double> k :
         {std::span<const double>(KernelSavGol), std::span<const double>(KernelWeighted)}) {
        tColumnHistory h;
        std::deque<double> past; // past[0] is the newest earlier input
        const size_t n = k.size() - 1;
        for (int call = 0; call < 50; ++call) {
            const double x = level(gen);
            double want = k[n] * x;
            for (size_t j = 1; j <= n; ++j)
                want = k[n - j] * (j <= past.size() ? past[j - 1] : 0.0) + want;
            ASSERT_EQ(ConditionLevel(x, k, h), want) << "call " << call;
            ASSERT_GE(h.nuPos, 0);
            ASSERT_LT(h.nuPos, static_cast<int32_t>(n));
            past.push_front(x);
        }
    }
}

TEST(Filters, RingIsKeptAcrossAKernelChange) {
    tColumnHistory h;
    for (int x = 1; x <= 6; ++x) ConditionLevel(x, KernelWeighted, h);
    EXPECT_EQ(ConditionLevel(100, KernelNone, h), 100);
    // Slot 0 now holds 100 (the newest) and slots 1..5 still hold 5, 4, 3, 2, 1.
    const double y = ConditionLevel(200, KernelWeighted, h);
    EXPECT_NEAR(y, 0.3 * 200 + 0.3 * 100 + 0.2 * 5 + 0.1 * 4 + 0.05 * 3 + 0.03 * 2 + 0.02 * 1,
                1e-9);

    // Switching to a shorter kernel reads the old position modulo the new length.
    tColumnHistory g;
    for (int x = 1; x <= 3; ++x) ConditionLevel(x, KernelWeighted, g); // nuPos = 3
    const double s = ConditionLevel(10, KernelSavGol, g);              // reads slots 3,0,1,2
    EXPECT_NEAR(s, 0.886 * 10 + 0.257 * 3 - 0.086 * 0 - 0.143 * 0 + 0.086 * 0, 1e-12);
    // After n further calls only fresh values remain.
    for (int i = 0; i < 4; ++i) ConditionLevel(1.0, KernelSavGol, g);
    EXPECT_NEAR(ConditionLevel(1.0, KernelSavGol, g), 1.0, 1e-12);
}

TEST(Filters, ColumnsAreIndependentAndBadInputIsHarmless) {
    std::vector<tColumnHistory> columns(781);
    for (int pass = 0; pass < 10; ++pass) {
        ConditionLevel(pass == 0 ? 50.0 : 0.0, KernelWeighted, columns[3]);
        EXPECT_EQ(ConditionLevel(0.0, KernelWeighted, columns[4]), 0.0);
    }
    for (double v : columns[4].aValues) EXPECT_EQ(v, 0.0);

    tColumnHistory bad;
    bad.nuPos = -5; // never produced by the filter; must not index outside the ring
    EXPECT_NEAR(ConditionLevel(1.0, KernelWeighted, bad), 0.3, 1e-12);
    const std::vector<double> tooLong(8, 0.125), tooShort{1.0};
    tColumnHistory untouched;
    EXPECT_EQ(ConditionLevel(4.0, tooLong, untouched), 4.0);
    EXPECT_EQ(ConditionLevel(4.0, tooShort, untouched), 4.0);
    EXPECT_EQ(untouched.nuPos, 0);
}

TEST(HumBand, TableAndEveryResolution) {
    struct Row {
        int r, first, last;
    };
    for (Row row : {Row{1, 46, 52}, Row{2, 94, 100}, Row{4, 192, 198}, Row{8, 387, 393},
                    Row{16, 776, 782}, Row{32, 1555, 1561}}) {
        const HumBand b = HumBandFor(true, row.r);
        EXPECT_EQ(b.first, row.first) << row.r;
        EXPECT_EQ(b.last, row.last) << row.r;
    }
    for (int r = 1; r <= 32; ++r) {
        const int h = rnd(r * 48.7);
        const HumBand b = HumBandFor(true, r);
        EXPECT_EQ(b.first, h - 3) << r;
        EXPECT_EQ(b.last, h + 3) << r;
    }
    const HumBand r1 = HumBandFor(true, 1);
    EXPECT_FALSE(InHumBand(45, r1));
    EXPECT_TRUE(InHumBand(46, r1));
    EXPECT_TRUE(InHumBand(52, r1));
    EXPECT_FALSE(InHumBand(53, r1));

    const HumBand off = HumBandFor(false, 4);
    EXPECT_EQ(off.first, -1);
    EXPECT_EQ(off.last, -1);
    for (int bin = 0; bin < 40000; ++bin) ASSERT_FALSE(InHumBand(bin, off));
    const HumBand zero = HumBandFor(true, 0); // never offered; must not be undefined
    EXPECT_LE(zero.first, zero.last + 1);
}
