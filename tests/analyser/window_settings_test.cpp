// SPDX-License-Identifier: GPL-3.0-or-later
// The window's settings handlers wired to its state: rate and resolution restart a run and
// recompute bins and hum band, the range bar follows the transform length, and each control
// reaches its variable. The arithmetic itself is tested without a window elsewhere.
#include "analyser/fFFT.h"
#include "platform/system/message_box.h"
#include "platform/sound/wave_in_simulated.h"
#include "window_fixture.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

namespace {

constexpr std::int32_t Packed(int r, int g, int b) {
    return r + 256 * g + 65536 * b;
}

class WindowSettingsTest : public LoadedWindowTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(base_.isValid());
        ASSERT_FALSE(load().IsClosed());
        w_->isStopRequested = false; // load itself leaves a stop request behind
    }
};

TEST_F(WindowSettingsTest, RateChangeRequestsAStopAndRecomputesBinsAndHumBand) {
    w().ckHum->setValue(1);
    EXPECT_EQ(w().nuHumFirst, 46);
    EXPECT_EQ(w().nuHumLast, 52);
    EXPECT_FALSE(w().isStopRequested) << "the hum switch alone does not restart";

    w().scrReso->setValue(2); // x4 at 2048 S/s
    EXPECT_TRUE(w().isStopRequested);
    EXPECT_EQ(w().nuResolution, 4);
    EXPECT_EQ(w().nuFftSize, 8192);
    EXPECT_EQ(w().lbReso->Caption(), "x 4");
    EXPECT_EQ(w().lbFFT->Caption(), "FFT: 8192 Bins");
    EXPECT_EQ(w().scrRange->Max(), 3314);
    EXPECT_EQ(w().nuHumFirst, 192) << "the band follows the resolution without a click";
    EXPECT_EQ(w().nuHumLast, 198);

    w().isStopRequested = false;
    w().optSamples(3).setValue(true); // 8192 S/s: the resolution drops to x1
    EXPECT_TRUE(w().isStopRequested);
    EXPECT_EQ(w().nuSampleRate, 8192);
    EXPECT_EQ(w().scrReso->Value(), 0);
    EXPECT_EQ(w().scrReso->Min(), 2);
    EXPECT_EQ(w().nuResolution, 1);
    EXPECT_EQ(w().nuFftSize, 8192);
    EXPECT_EQ(w().lbReso->Caption(), "x 1");
    EXPECT_EQ(w().nuHumFirst, 46);
    EXPECT_EQ(w().nuLastBin - w().nuFirstBin, w().nuWaterWidth);

    w().isStopRequested = false;
    w().scrReso->triggerAction(QAbstractSlider::SliderToMinimum); // the user drags to the top
    EXPECT_EQ(w().scrReso->Value(), 2);
    EXPECT_EQ(w().nuFftSize, 32768);
    EXPECT_TRUE(w().isStopRequested);

    w().ckHum->setValue(0);
    EXPECT_EQ(w().nuHumFirst, -1);
    EXPECT_EQ(w().nuHumLast, -1);
}

TEST_F(WindowSettingsTest, HighestRatePinsTheResolutionToOne) {
    w().scrReso->setValue(3);
    w().optSamples(5).setValue(true);
    EXPECT_EQ(w().nuSampleRate, 32768);
    EXPECT_EQ(w().scrReso->Min(), 0);
    EXPECT_EQ(w().scrReso->Max(), 0);
    w().scrReso->setValue(3);
    w().scrReso->triggerAction(QAbstractSlider::SliderSingleStepSub);
    w().scrReso->triggerAction(QAbstractSlider::SliderPageStepAdd);
    EXPECT_EQ(w().scrReso->Value(), 0);
    EXPECT_EQ(w().nuResolution, 1);
    EXPECT_EQ(w().nuFftSize, 32768);
    EXPECT_TRUE(w().scrReso->isEnabled());

    w().optSamples(0).setValue(true);
    EXPECT_EQ(w().scrReso->Min(), 5);
    w().scrReso->setValue(5);
    EXPECT_EQ(w().nuFftSize, 32768);
}

TEST_F(WindowSettingsTest, RangeValueIsLoweredToANewMaxAndKeptWhileDisabled) {
    w().scrReso->setValue(2); // 2048 x4: Max 3314
    w().scrRange->setValue(3000);
    EXPECT_EQ(w().nuFirstBin, 3000);
    EXPECT_EQ(w().nuLastBin, 3780);

    w().scrReso->setValue(0); // x1: Max 242, the value comes down with it
    EXPECT_EQ(w().scrRange->Max(), 242);
    EXPECT_EQ(w().scrRange->Value(), 242);
    EXPECT_EQ(w().nuFirstBin, 242);
    EXPECT_EQ(w().nuLastBin, 1022);
    EXPECT_EQ(w().lbrange->Caption(), "243 - 1023");

    w().optSamples(0).setValue(true); // 1024 S/s: everything fits, the bar is switched off
    EXPECT_FALSE(w().scrRange->isEnabled());
    EXPECT_EQ(w().nuFirstBin, 0);
    EXPECT_EQ(w().nuLastBin, 511);
    EXPECT_EQ(w().lbrange->Caption(), "1 - 781");
    EXPECT_EQ(w().scrRange->Value(), 242);

    w().optSamples(1).setValue(true);
    w().scrReso->setValue(2); // enabled again from the kept value
    EXPECT_TRUE(w().scrRange->isEnabled());
    EXPECT_EQ(w().nuFirstBin, 242);
    EXPECT_EQ(w().lbrange->Caption(), "61 - 256");

    w().isStopRequested = false;
    w().scrRange->triggerAction(QAbstractSlider::SliderSingleStepAdd); // the user scrolls
    EXPECT_EQ(w().nuFirstBin, 243);
    EXPECT_EQ(w().nuLastBin, 1023);
    EXPECT_FALSE(w().isStopRequested) << "scrolling the range needs no restart";
}

TEST_F(WindowSettingsTest, EachScrollBarReachesItsVariable) {
    w().scrContrast->setValue(14);
    EXPECT_EQ(w().nuContrast, 291.92926025390625);
    EXPECT_EQ(w().nuHumDivisor, 97.97675341796875);
    w().scrSpeed->setValue(50);
    EXPECT_EQ(w().nuSleepMs, 109);
    w().scrBright->setValue(200);
    EXPECT_EQ(w().nuBright, 200);
    w().scrGain->setValue(10);
    EXPECT_EQ(w().nuGain, 10);
    w().scrShift->setValue(50);
    EXPECT_EQ(w().nuShift, 50.0 / 110);
    w().scrHue->setValue(0);
    EXPECT_EQ(w().nuHue, 0);
    EXPECT_EQ(w().picSpectrum->ForeColor(), Packed(191, 65, 65));
    EXPECT_EQ(w().LevelToColour(128), Packed(191, 65, 65));
    w().scrHue->setValue(212);
    EXPECT_EQ(w().picSpectrum->ForeColor(), Packed(191, 65, 191));
    w().VScroll1->setValue(250);
    EXPECT_EQ(w().Text2->Text(), "250");
    w().ckTicks->setValue(0);
    EXPECT_FALSE(w().isTicks);
    EXPECT_FALSE(w().isStopRequested);
}

TEST_F(WindowSettingsTest, FilterChoiceSwapsTheKernelAndKeepsTheHistory) {
    EXPECT_DOUBLE_EQ(w().ConditionBin(1.0, 780), 0.3) << "the last column has a record";
    EXPECT_DOUBLE_EQ(w().ConditionBin(1.0, 780), 0.6);
    w().optFilterNone->setValue(true);
    EXPECT_EQ(w().aFilterKernel.size(), 2u);
    EXPECT_EQ(w().ConditionBin(5.0, 780), 5.0);
    w().optSavGol->setValue(true);
    EXPECT_EQ(w().aFilterKernel.size(), 5u);
    EXPECT_DOUBLE_EQ(w().ConditionBin(1.0, 0), 0.886);
    EXPECT_FALSE(w().optWeighted->Value());
    w().optWeighted->setValue(true);
    // The ring was not reset: slot 0 holds 5.0 from "None", slots 4 and 5 the two 1.0 inputs
    // from before, read as the oldest (weights 0.03 and 0.02).
    EXPECT_DOUBLE_EQ(w().ConditionBin(0.0, 780), 0.3 * 5.0 + 0.03 * 1.0 + 0.02 * 1.0);
}

TEST_F(WindowSettingsTest, TimeWindowSwitchReachesTheEngine) {
    clsFourier& f = *w().oFourier;
    auto dcMagnitude = [&f] {
        f.NumberOfSamples(1024);
        for (int i = 1; i <= 1024; ++i) f.RealIn(i, 1.0);
        return f.ComplexOut(1);
    };
    const double windowed = dcMagnitude();
    w().ckTimeWindow->setValue(0);
    const double plain = dcMagnitude();
    EXPECT_GT(std::abs(plain - windowed), 0.1 * plain);
    w().ckTimeWindow->setValue(1);
    EXPECT_DOUBLE_EQ(dcMagnitude(), windowed);
}

} // namespace
