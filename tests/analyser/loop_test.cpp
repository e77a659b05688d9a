// SPDX-License-Identifier: GPL-3.0-or-later
// The Start/Stop commands and the acquisition loop on a simulated input device and a manual
// performance counter: the test spins the event loop and completes buffers itself.
#include "analyser/fFFT.h"
#include "analyser/scaling.h"
#include "capture/mSound.h"
#include "magnifier/fMagnifier.h"
#include "platform/sound/wave_in_simulated.h"
#include "platform/system/message_box.h"
#include "platform/system/perf_counter.h"
#include "tools/loop_driver.h"
#include "window_fixture.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

namespace {

using Point = fFFT::LoopPoint;
using Wait = fFFT::LoopWait;
using platform::SampleSource;
using platform::VisibleFlag;
using loop_driver::SpinUntil;

// ---- arithmetic ---------------------------------------------------------------------------

TEST(LoopArithmetic, SpectrumFrameComesFromThePreviousPeakWithTheFloor) {
    auto f = analyser::SpectrumFrameFor(2.0, 0.0);
    EXPECT_EQ(f.scaleHeight, 2.1f);
    EXPECT_EQ(f.baseline, 2.05f);
    f = analyser::SpectrumFrameFor(2.0, 50.0 / 110);
    EXPECT_EQ(f.baseline, static_cast<float>(2.05 - 2.0 * 50.0 / 110));
    EXPECT_NEAR(f.baseline, 1.1409, 1e-4);
    EXPECT_EQ(analyser::SpectrumFrameFor(0.1, 0).scaleHeight, 0.105f);
}

TEST(LoopArithmetic, ThresholdIsStrictOnTheLevelRoundedHalfToEven) {
    EXPECT_FALSE(analyser::AboveThreshold(150, 100.4, 1.5, 0)); // 100 * 1.5 = 150: not above
    EXPECT_TRUE(analyser::AboveThreshold(149, 100.4, 1.5, 0));
    EXPECT_FALSE(analyser::AboveThreshold(3, 2.5, 1.5, 0)); // 2.5 rounds to 2
    EXPECT_TRUE(analyser::AboveThreshold(3, 3.5, 1.5, 0));  // 3.5 rounds to 4
    EXPECT_TRUE(analyser::AboveThreshold(100, 0.2, 38.4, 100.5));
}

TEST(LoopArithmetic, TickLatchAndReadPosition) {
    EXPECT_FALSE(analyser::TickDueAfter(49, true, '9')) << "cleared up to the 49th pass";
    EXPECT_TRUE(analyser::TickDueAfter(50, false, '9'));
    EXPECT_FALSE(analyser::TickDueAfter(50, false, '0'));
    EXPECT_TRUE(analyser::TickDueAfter(51, true, '3')) << "held once set";

    // 50 ms at 2048 samples per second: 107.52 samples, rounded.
    EXPECT_EQ(analyser::AdvancedStartIndex(1, 1000, 51000, 1'000'000, 2048 * 1.05), 109);
    EXPECT_EQ(analyser::AdvancedStartIndex(10, 0, 500, 1000, 5.0), 12) << "12.5 rounds to 12";

    char text[9];
    analyser::FormatTimeText(QTime(7, 5, 9), text);
    EXPECT_STREQ(text, "07:05:09");
    analyser::FormatTimeText(QTime(23, 59, 50), text);
    EXPECT_STREQ(text, "23:59:50");
}

// ---- the window ---------------------------------------------------------------------------

class LoopTest : public LoadedWindowTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(base_.isValid());
        input_.setSource(SampleSource::Sine(700, 400));
        ASSERT_FALSE(load().IsClosed());
        w_->framePeriodMs = 0;
        w_->TimeOfDay = [this] {
            ++timeCalls_;
            return time_;
        };
    }
    // Plain levels: no smoothing, no time window, contrast 1.5, so a sine of amplitude A at a
    // bin frequency has the level A / 4 in its column (the engine halves its inputs).
    void PlainLevels() {
        w().optFilterNone->setValue(true);
        w().ckTimeWindow->setValue(0);
        w().scrContrast->setValue(1);
    }

    // Until a pass that begins after now is parked at step 6 (it read a block).
    bool ToNextBlockRead() { return loop_driver::ToNextPassParkedAt(w(), Point::AfterRead); }
    // Until a pass with a block has drawn (parked at step 14; List1 still holds its columns).
    bool ToDrawn() {
        if (w().LoopParkedAt() != Point::AfterRead && !ToNextBlockRead()) return false;
        return SpinUntil([this] { return w().LoopParkedAt() == Point::AfterDraw; });
    }
    QRgb NewestRow(int x) const { return w_->picWaterfall->Image().pixel(x, 2); }

    platform::ManualClock clock_;
    QTime time_{12, 0, 1};
    int timeCalls_ = 0;
};

TEST_F(LoopTest, FirstRowComesWithTheSecondBufferAfterTheCountdown) {
    w().mnuStart_Click();
    EXPECT_EQ(w().lbBuffering->Caption(), "Buffering - Please wait 2 Secs");
    EXPECT_TRUE(VisibleFlag(w().lbBuffering));
    EXPECT_TRUE(w().tmrWait->Enabled());
    w().tmrWait_Timer(); // 890 ms later
    EXPECT_EQ(w().lbBuffering->Caption(), "Buffering - Please wait 1 Secs");
    EXPECT_FALSE(w().tmrWait->Enabled()) << "stays at 1 until the first block";

    ASSERT_TRUE(ToBlockWait());
    EXPECT_EQ(mSound::nuStartIndex, 2 * 2048 + 1);
    const QImage before = w().picWaterfall->Image().copy();
    ASSERT_TRUE(input_.completeBuffer());
    const auto begun = w().PassesBegun();
    ASSERT_TRUE(SpinUntil([&] { return w().PassesBegun() > begun; }));
    ASSERT_TRUE(ToBlockWait());
    EXPECT_EQ(mSound::nuStartIndex, 2049);
    EXPECT_EQ(w().picWaterfall->Image(), before);
    EXPECT_FALSE(w().btMagn->isEnabled());
    EXPECT_TRUE(w().isBuffering);

    ASSERT_TRUE(input_.completeBuffer());
    ASSERT_TRUE(ToNextBlockRead());
    EXPECT_FALSE(VisibleFlag(w().lbBuffering));
    EXPECT_FALSE(w().isBuffering);
    EXPECT_TRUE(w().btMagn->isEnabled());
    ASSERT_TRUE(ToNextBlockRead());
    EXPECT_NE(w().picWaterfall->Image(), before);
    EXPECT_EQ(w().Text4->Text(), "781");
}

TEST_F(LoopTest, DrawnPassesAdvanceByElapsedTimeIncludingTheFrameWait) {
    StartToFirstBlock();
    EXPECT_EQ(mSound::nuStartIndex, 1);
    clock_.advanceMs(50);
    ASSERT_TRUE(ToNextBlockRead());
    EXPECT_EQ(mSound::nuStartIndex, 109); // 1 + 107.52 rounded

    // Paced: the pass waits at step 14 until a frame has gone by on the counter.
    w().framePeriodMs = 20;
    ASSERT_TRUE(SpinUntil([&] { return w().LoopWaitingFor() == Wait::Frame; }));
    for (int i = 0; i < 50; ++i) QCoreApplication::processEvents();
    EXPECT_EQ(w().LoopWaitingFor(), Wait::Frame);
    EXPECT_EQ(mSound::nuStartIndex, 109);
    clock_.advanceMs(20);
    ASSERT_TRUE(ToNextBlockRead());
    EXPECT_EQ(mSound::nuStartIndex, 109 + 43); // 20 ms: 43.008
}

// The figure of how steadily the capture feeds the loop: a buffer that arrives while a frame can
// still be read (the position at most N) stops the position at 1, and the sound between is lost.
TEST_F(LoopTest, ABufferThatFindsThePositionStillReadableCountsAsAClamp) {
    StartToFirstBlock();
    EXPECT_EQ(w().Stats().clamps, 0u);
    EXPECT_EQ(mSound::nuStartIndex, 1);
    ASSERT_TRUE(input_.completeBuffer());
    ASSERT_TRUE(ToNextBlockRead());
    EXPECT_EQ(mSound::nuStartIndex, 1);
    EXPECT_EQ(w().Stats().clamps, 1u);
    clock_.advanceMs(1500); // past N: the next buffer moves the position back whole
    ASSERT_TRUE(ToBlockWait());
    ASSERT_TRUE(input_.completeBuffer());
    ASSERT_TRUE(ToNextBlockRead());
    EXPECT_EQ(w().Stats().clamps, 1u);
    w().mnuStart_Click();
    EXPECT_EQ(w().Stats().clamps, 0u) << "counted from each Start";
}

TEST_F(LoopTest, PassesWithoutABlockOrFrozenDrawNothingAndAdvanceNothing) {
    StartToFirstBlock();
    w().VScroll1->setValue(149);
    PlainLevels();
    clock_.advanceMs(1000); // the position runs past N: no block until the next buffer
    ASSERT_TRUE(ToBlockWait());
    EXPECT_EQ(mSound::nuStartIndex, 1 + 2150);
    EXPECT_EQ(w().Text4->Text(), "781");
    const QImage picture = w().picWaterfall->Image().copy();
    const int listed = w().List1->ListCount();

    auto toNextBlockWait = [&] {
        const auto begun = w().PassesBegun();
        return SpinUntil(
            [&] { return w().PassesBegun() > begun && w().LoopWaitingFor() == Wait::Block; });
    };
    w().Command3_Click(); // Pause: wakes the waiting pass, the next one waits again
    EXPECT_EQ(w().ckFreeze->Value(), 1);
    EXPECT_TRUE(w().isFrozen);
    ASSERT_TRUE(toNextBlockWait());
    ASSERT_TRUE(input_.completeBuffer()); // a block is ready, but frozen
    ASSERT_TRUE(toNextBlockWait());
    EXPECT_EQ(mSound::nuStartIndex, 2151 - 2048);
    EXPECT_EQ(w().picWaterfall->Image(), picture);
    EXPECT_EQ(w().List1->ListCount(), listed);
    EXPECT_EQ(w().Text4->Text(), "781");

    w().ckFreeze->setValue(0);
    ASSERT_TRUE(ToNextBlockRead());
    ASSERT_TRUE(ToNextBlockRead());
    EXPECT_NE(w().picWaterfall->Image(), picture);
}

TEST_F(LoopTest, KnownToneLandsInItsColumnAndTheThresholdIsStrict) {
    PlainLevels();
    w().VScroll1->setValue(150); // level 100 * contrast 1.5 = 150: not above
    StartToFirstBlock();
    ASSERT_TRUE(ToDrawn());
    const QRgb tone = NewestRow(700);
    const analyser::Rgb expected = analyser::SplitColour(w().LevelToColour(1.5 * 100));
    EXPECT_NEAR(qRed(tone), expected.red, 1);
    EXPECT_NEAR(qGreen(tone), expected.green, 1);
    EXPECT_NEAR(qBlue(tone), expected.blue, 1);
    for (int x : {0, 300, 696, 704, 779}) EXPECT_EQ(NewestRow(x) & 0xFFFFFF, 0u) << x;
    EXPECT_NEAR(w().nuPeak, 100, 0.1);
    EXPECT_EQ(w().List1->ListCount(), 0);

    w().VScroll1->setValue(149);
    ASSERT_TRUE(ToDrawn());
    ASSERT_EQ(w().List1->ListCount(), 1);
    EXPECT_EQ(w().List1->List(0), "700");
}

TEST_F(LoopTest, SpectrumScaleFollowsThePreviousPeakWithFloorAndShift) {
    input_.setSource(SampleSource::Constant(0));
    PlainLevels();
    StartToFirstBlock();
    ASSERT_TRUE(ToNextBlockRead());
    EXPECT_EQ(w().picSpectrum->ScaleHeight(), 1.05f) << "the first pass of a loop uses peak 1";
    ASSERT_TRUE(ToNextBlockRead());
    ASSERT_TRUE(ToNextBlockRead()); // the levelling has settled: every level is 0
    EXPECT_EQ(w().nuPeak, 0.1);
    EXPECT_EQ(w().picSpectrum->ScaleHeight(), 0.105f);
    const QImage& s = w().picSpectrum->Image();
    const QRgb trace = analyser::ColourToArgb(w().LevelToColour(128));
    auto litRow = [&](int x) {
        for (int y = 0; y < s.height(); ++y)
            if (s.pixel(x, y) == trace) return y;
        return -1;
    };
    EXPECT_EQ(litRow(300), 227); // 0.1025 of 0.105 of 233 rows

    w().scrShift->setValue(50);
    ASSERT_TRUE(ToNextBlockRead());
    ASSERT_TRUE(ToNextBlockRead());
    EXPECT_EQ(w().picSpectrum->Image().pixel(300, 127), trace); // (1.025 - 50/110) / 1.05
}

TEST_F(LoopTest, HumBandDividesTheWaterfallAndListButNotTheTrace) {
    input_.setSource(SampleSource::Sine(49, 400));
    PlainLevels();
    w().VScroll1->setValue(140); // 150 is listed, 150 / 1.1670 is not
    StartToFirstBlock();
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(ToDrawn());
    const QImage spectrum = w().picSpectrum->Image().copy();
    const QImage waterfall = w().picWaterfall->Image().copy();
    ASSERT_EQ(w().List1->ListCount(), 1);

    w().ckHum->setValue(1);
    ASSERT_TRUE(ToDrawn());
    EXPECT_EQ(w().picSpectrum->Image(), spectrum);
    EXPECT_NE(NewestRow(49), waterfall.pixel(49, 2));
    const analyser::Rgb divided =
        analyser::SplitColour(w().LevelToColour(1.5 * w().nuPeak / w().nuHumDivisor));
    EXPECT_NEAR(qGreen(NewestRow(49)), divided.green, 1);
    for (int x : {45, 53, 400}) EXPECT_EQ(NewestRow(x), waterfall.pixel(x, 2)) << x;
    EXPECT_EQ(w().List1->ListCount(), 0);
}

TEST_F(LoopTest, TimeTicksNeedFiftyPassesAndANineThenAZero) {
    w().nuPassCount = 0;
    w().isTickDue = false;
    w().TimeOfDay = [this] { return QTime(12, 0, 0).addSecs(++timeCalls_ % 60); };
    StartToFirstBlock();
    auto runTo = [&](int calls) {
        return SpinUntil(
            [&] { return timeCalls_ == calls && w().LoopParkedAt() == Point::AfterRead; });
    };
    ASSERT_TRUE(runTo(49)); // "12:00:49", 49th pass: too early to arm
    EXPECT_FALSE(w().isTickDue);
    ASSERT_TRUE(runTo(50)); // "…:50" after "…:49", 50th pass: no tick, not armed
    EXPECT_EQ(w().nuPassCount, 50);
    EXPECT_FALSE(w().isTickDue);
    ASSERT_TRUE(runTo(59));
    EXPECT_TRUE(w().isTickDue);
    ASSERT_TRUE(runTo(60)); // "12:01:00": the tick
    EXPECT_EQ(w().nuPassCount, 0);
    EXPECT_FALSE(w().isTickDue);
    const QRgb ink = analyser::ColourToArgb(w().picWaterfall->ForeColor());
    int inked = 0;
    for (int x = 1; x < 780; ++x) inked += w().picWaterfall->Image().pixel(x, 2) == ink;
    EXPECT_EQ(inked, 779) << "the tick line crosses the newest row";

    // Ticks off: the latch still arms, and ticking the box draws at the next '0'.
    w().ckTicks->setValue(0);
    ASSERT_TRUE(runTo(120));
    EXPECT_TRUE(w().isTickDue);
    EXPECT_EQ(w().nuPassCount, 60);
    w().ckTicks->setValue(1);
    ASSERT_TRUE(runTo(129));
    EXPECT_TRUE(w().isTickDue);
    ASSERT_TRUE(runTo(130));
    EXPECT_EQ(w().nuPassCount, 0);
}

TEST_F(LoopTest, RateAndResolutionChangesRestartWithTheNewLengthAndClipTheRange) {
    StartToFirstBlock();
    w().optSamples(0).setValue(true); // 1024 samples per second
    ASSERT_TRUE(ToBlockWait());
    EXPECT_EQ(input_.openCount(), 2);
    EXPECT_EQ(input_.openedFormat().nSamplesPerSec, 1024u);
    EXPECT_EQ(mSound::nuBufferSamples, 1024);
    EXPECT_EQ(mSound::nuStartIndex, 2049);
    EXPECT_EQ(w().lbBuffering->Caption(), "Buffering - Please wait 2 Secs");
    EXPECT_TRUE(VisibleFlag(w().lbBuffering));
    EXPECT_TRUE(w().isBuffering);
    EXPECT_TRUE(w().tmrWait->Enabled());

    // At x4 and 2048 S/s the range may name bins the 1024-sample transform does not have:
    // the pass that still holds it draws up to its last output only.
    ASSERT_TRUE(input_.completeBuffer());
    ASSERT_TRUE(ToBlockWait());
    ASSERT_TRUE(input_.completeBuffer());
    ASSERT_TRUE(ToNextBlockRead());
    w().optSamples(1).setValue(true);
    w().scrReso->setValue(2);
    w().scrRange->setValue(800);
    ASSERT_TRUE(ToBlockWait());
    EXPECT_EQ(w().Text4->Text(), "224") << "bins 800 .. 1023";
    EXPECT_EQ(input_.openCount(), 3);
    EXPECT_EQ(mSound::nuBufferSamples, 8192);
    EXPECT_EQ(w().lbBuffering->Caption(), "Buffering - Please wait 8 Secs");
    EXPECT_EQ(w().nuBufferCount, 7);
}

TEST_F(LoopTest, StopEndsTheRunButLeavesTheCaptureOpen) {
    w().mnuStart_Click();
    w().mnuStop_Click(); // before the first pass: nothing is opened
    ASSERT_TRUE(SpinUntil([&] { return w().LoopParkedAt() == Point::Idle; }));
    EXPECT_EQ(input_.openCount(), 0);

    w().mnuStart_Click();
    ASSERT_TRUE(ToBlockWait());
    w().mnuStop_Click();
    EXPECT_FALSE(VisibleFlag(w().lbBuffering));
    EXPECT_FALSE(w().tmrWait->Enabled());
    EXPECT_TRUE(w().isIdle);
    EXPECT_TRUE(w().isBuffering) << "stays set until the next Start";
    EXPECT_FALSE(w().btMagn->isEnabled());
    ASSERT_TRUE(SpinUntil([&] { return w().LoopParkedAt() == Point::Idle; }));
    EXPECT_TRUE(input_.isOpen());
    const auto begun = w().PassesBegun();
    ASSERT_TRUE(input_.completeBuffer());
    for (int i = 0; i < 20; ++i) QCoreApplication::processEvents();
    EXPECT_EQ(w().PassesBegun(), begun);
}

TEST_F(LoopTest, StartDuringARunRestartsItAndAFailedRestartEndsIt) {
    StartToFirstBlock();
    w().Command3_Click();
    ASSERT_TRUE(w().isFrozen);
    w().btStart->Click(); // posts F5: the command runs from the event loop
    EXPECT_EQ(input_.openCount(), 1);
    ASSERT_TRUE(SpinUntil([&] { return input_.openCount() == 2; }));
    EXPECT_EQ(w().ckFreeze->Value(), 0);
    EXPECT_FALSE(w().isFrozen);
    EXPECT_EQ(w().lbBuffering->Caption(), "Buffering - Please wait 2 Secs");
    ASSERT_TRUE(ToBlockWait());
    EXPECT_EQ(mSound::nuStartIndex, 4097);

    input_.failAt(platform::SimulatedWaveIn::Step::Open, platform::MMSYSERR_ALLOCATED);
    w().mnuStart_Click();
    ASSERT_TRUE(SpinUntil([&] { return w().LoopParkedAt() == Point::Idle; }));
    EXPECT_TRUE(w().isIdle);
    EXPECT_FALSE(VisibleFlag(w().lbBuffering));
    ASSERT_EQ(messages_.messages().size(), 1u);
    EXPECT_EQ(messages_.messages()[0].title, "Sound Input");
    const auto begun = w().PassesBegun();
    for (int i = 0; i < 20; ++i) QCoreApplication::processEvents();
    EXPECT_EQ(w().PassesBegun(), begun) << "the capture is not polled again";
}

TEST_F(LoopTest, ALostDeviceEndsTheRunWithOneMessageAndStartWorksOnceItIsBack) {
    w().mnuStart_Click();
    ASSERT_TRUE(ToBlockWait());
    ASSERT_TRUE(input_.completeBuffer());
    ASSERT_TRUE(SpinUntil([&] { return mSound::nuStartIndex == 2049; }));
    ASSERT_TRUE(ToBlockWait());
    input_.disappear(); // wakes the waiting pass at once
    ASSERT_TRUE(SpinUntil([&] { return w().LoopParkedAt() == Point::Idle; }));
    EXPECT_TRUE(w().isIdle);
    EXPECT_FALSE(VisibleFlag(w().lbBuffering));
    EXPECT_FALSE(input_.isOpen()) << "released as a failed start releases it";
    ASSERT_EQ(messages_.messages().size(), 1u);
    EXPECT_EQ(messages_.messages()[0].title, "Sound Input");
    EXPECT_NE(messages_.messages()[0].text.find("the simulated device went away"),
              std::string::npos);
    const auto begun = w().PassesBegun();
    for (int i = 0; i < 20; ++i) QCoreApplication::processEvents();
    EXPECT_EQ(w().PassesBegun(), begun) << "no spinning after the end";

    input_.setDevices({{"Simulated input"}}); // the server is back
    StartToFirstBlock();
    if (HasFatalFailure()) return;
    EXPECT_EQ(messages_.messages().size(), 1u);
}

TEST_F(LoopTest, ASilentDeviceIsLostAfterThreeBuffersAndASecondButNotWhileFrozen) {
    w().framePeriodMs = 1; // passes without a block look again every millisecond
    w().mnuStart_Click();
    ASSERT_TRUE(ToBlockWait());
    // At 2048 S/s with N = 2048: lost after 4 s without a buffer.
    w().Command3_Click();
    clock_.advanceMs(10'000);
    for (int i = 0; i < 50; ++i) QCoreApplication::processEvents();
    EXPECT_FALSE(w().isIdle) << "a frozen display keeps its run";
    w().ckFreeze->setValue(0);
    ASSERT_TRUE(SpinUntil([&] { return w().LoopParkedAt() == Point::Idle; }));
    EXPECT_TRUE(w().isIdle);
    ASSERT_EQ(messages_.messages().size(), 1u);
    EXPECT_NE(messages_.messages()[0].text.find("no sound has arrived for 10.0 seconds"),
              std::string::npos)
        << messages_.messages()[0].text;

    w().mnuStart_Click();
    ASSERT_TRUE(ToBlockWait());
    clock_.advanceMs(3900);
    for (int i = 0; i < 50; ++i) QCoreApplication::processEvents();
    EXPECT_FALSE(w().isIdle);
    ASSERT_TRUE(input_.completeBuffer());
    ASSERT_TRUE(SpinUntil([&] { return mSound::nuStartIndex == 2049; }));
    clock_.advanceMs(3900);
    for (int i = 0; i < 50; ++i) QCoreApplication::processEvents();
    EXPECT_FALSE(w().isIdle) << "each buffer starts the count again";
    EXPECT_EQ(messages_.messages().size(), 1u);
}

TEST_F(LoopTest, MagnifierAndSleepRunAtTheirStepsAndTheRunEndClosesTheMagnifier) {
    StartToFirstBlock();
    w().btMagn->Click();
    EXPECT_TRUE(w().isMagnifier);
    EXPECT_TRUE(w().magn->IsLoaded());
    ASSERT_TRUE(SpinUntil([&] { return w().LoopParkedAt() == Point::AfterMagnifier; }));
    w().scrSpeed->setValue(5); // 7 ms
    ASSERT_TRUE(SpinUntil([&] { return w().LoopWaitingFor() == Wait::Sleep; }));
    w().btStop->Click();
    ASSERT_TRUE(SpinUntil([&] { return w().LoopParkedAt() == Point::Idle; }));
    EXPECT_FALSE(w().isMagnifier);
    EXPECT_FALSE(w().magn->IsLoaded());
}

TEST_F(LoopTest, CloseDuringARunHidesAtOnceAndTheRunEndsWithoutPolling) {
    StartToFirstBlock();
    const auto calls = input_.calls().size();
    w().close();
    EXPECT_TRUE(w().isHidden());
    EXPECT_FALSE(input_.isOpen());
    ASSERT_TRUE(SpinUntil([&] { return w().LoopParkedAt() == Point::Idle; }));
    EXPECT_EQ(w().Text4->Text(), "781") << "the pass was finished";
    EXPECT_EQ(input_.calls().size(), calls + 2) << "stop and close only";

    // Destroyed while parked in a pass: the pass is finished before the controls go.
    w_.reset();
    w_ = std::make_unique<fFFT>(base_.path());
    w_->Form_Load();
    w_->framePeriodMs = 0;
    StartToFirstBlock();
    w().close();
    w_.reset();
    EXPECT_FALSE(input_.isOpen());
}

} // namespace
