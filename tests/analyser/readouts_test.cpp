// SPDX-License-Identifier: GPL-3.0-or-later
#include "analyser/readouts.h"

#include <gtest/gtest.h>

#include <limits>

using namespace analyser;

TEST(Readout, WorkedExamplesAndEnds) {
    EXPECT_NEAR(ReadoutFrequency(1, 781, 390, 779), 391.5006418, 1e-6);
    EXPECT_EQ(ReadoutText(ReadoutFrequency(1, 781, 390, 779)), "392");
    EXPECT_EQ(ReadoutFrequency(2, 3, 1, 2), 2.5);
    EXPECT_EQ(ReadoutText(ReadoutFrequency(2, 3, 1, 2)), "2");
    EXPECT_EQ(ReadoutText(ReadoutFrequency(1, 781, 0, 779)), "1");
    EXPECT_EQ(ReadoutText(ReadoutFrequency(1, 781, 779, 779)), "781");
    EXPECT_EQ(ReadoutText(ReadoutFrequency(26, 221, 779, 779)), "221");
}

TEST(Readout, ExtrapolatesOutsideThePicture) {
    // 1 + 780 * -100 / 779 = -99.13 and 1 + 780 * 1000 / 779 = 1002.28
    EXPECT_EQ(ReadoutText(ReadoutFrequency(1, 781, -100, 779)), "-99");
    EXPECT_EQ(ReadoutText(ReadoutFrequency(1, 781, 1000, 779)), "1002");
    EXPECT_EQ(ReadoutText(ReadoutFrequency(1, 781, -1, 779)), "0"); // 0.0013
}

TEST(Readout, TextIsPlainHalfEvenDecimal) {
    EXPECT_EQ(ReadoutText(3.5), "4");
    EXPECT_EQ(ReadoutText(4.5), "4");
    EXPECT_EQ(ReadoutText(-2.5), "-2");
    EXPECT_EQ(ReadoutText(-3.5), "-4");
    EXPECT_EQ(ReadoutText(-0.3), "0"); // no "-0"
    EXPECT_EQ(ReadoutText(16384.49), "16384");
    EXPECT_EQ(ReadoutText(5e9), "5000000000"); // beyond 32 bits, still plain digits
    EXPECT_EQ(ReadoutText(std::numeric_limits<double>::quiet_NaN()), "");
    EXPECT_EQ(ReadoutText(ReadoutFrequency(1, 781, 5, 0)), ""); // zero-width picture
}

TEST(Readout, LabelIsCentredOnThePointerColumn) {
    EXPECT_EQ(LabelLeft(100, -56, 30), 29);
    EXPECT_EQ(LabelLeft(0, 16, 21), 6); // 16 - 10.5 = 5.5, ties to even
    EXPECT_EQ(LabelLeft(-10, 0, 10), -15);
}
