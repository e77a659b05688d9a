// SPDX-License-Identifier: GPL-3.0-or-later
#include "capture/mSound.h"

#include "platform/sound/wave_in_simulated.h"
#include "platform/system/global_memory.h"
#include "platform/system/message_box.h"
#include "platform/system/perf_counter.h"

#include "support/wave_in_errors.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <chrono>
#include <string>
#include <vector>

using namespace platform;
using Step = SimulatedWaveIn::Step;

namespace {

using test_support::ErrorText;

constexpr std::uint32_t kUnsuitable =
    WAVE_FORMAT_1M08 | WAVE_FORMAT_1S16 | WAVE_FORMAT_4S16 | WAVE_FORMAT_2M08 | WAVE_FORMAT_4M08;

class Capture : public ::testing::Test {
protected:
    void SetUp() override {
        mSound::StopCapture();
        blocksBefore = GlobalBlocksInUse();
        mSound::nuDcOffset = 0.0;
        mSound::nuDeviceId = 0;
    }
    void TearDown() override {
        mSound::StopCapture();
        EXPECT_EQ(GlobalBlocksInUse(), blocksBefore);
        EXPECT_FALSE(sim.isOpen());
    }
    void ExpectOneBox(const std::string& text) {
        ASSERT_EQ(boxes.messages().size(), 1u);
        EXPECT_EQ(boxes.messages()[0].text, text);
        EXPECT_EQ(boxes.messages()[0].title, "Sound Input");
        EXPECT_EQ(boxes.messages()[0].icon, MsgIcon::Critical);
    }
    void ExpectNothingHeld() {
        EXPECT_FALSE(sim.isOpen());
        EXPECT_EQ(mSound::hWaveIn, 0u);
        EXPECT_EQ(mSound::aBufferMem[0], nullptr);
        EXPECT_EQ(mSound::aBufferMem[1], nullptr);
        EXPECT_EQ(GlobalBlocksInUse(), blocksBefore);
    }
    // Reads a whole frame as the analyser does and moves the read position past it.
    std::vector<double> ReadFrame(std::int32_t N) {
        std::vector<double> frame;
        for (std::int32_t i = mSound::nuStartIndex; i < mSound::nuStartIndex + N; ++i)
            frame.push_back(mSound::SampleAt(i, N));
        mSound::nuStartIndex += N;
        return frame;
    }

    SimulatedWaveIn sim;
    MessageBoxRecorder boxes;
    std::size_t blocksBefore = 0;
};

} // namespace

// --- Finding a device ---------------------------------------------------------------------------

TEST_F(Capture, NoDeviceAtAllIsReportedOnce) {
    sim.setDevices({});
    EXPECT_FALSE(mSound::CheckInputDevice());
    ExpectOneBox("Unfortunately you have no Sound Input Device");
}

TEST_F(Capture, DevicesWithoutSixteenBitMonoAreReportedOnce) {
    sim.setDevices({{"a", kUnsuitable}, {"b", 0}});
    EXPECT_FALSE(mSound::CheckInputDevice());
    ExpectOneBox("Unfortunately you have no suitable Sound Input Device");
}

TEST_F(Capture, TheHighestSuitableDeviceWinsAndIsTheOneOpened) {
    sim.setDevices({{"a", WAVE_FORMAT_1M16}, {"b", WAVE_FORMAT_2M16}, {"c", kUnsuitable}});
    ASSERT_TRUE(mSound::CheckInputDevice());
    EXPECT_EQ(mSound::nuDeviceId, 1);
    ASSERT_TRUE(mSound::StartCapture(1024, 2048));
    EXPECT_EQ(sim.openedDevice(), 1u);

    // Each one of the three bits is enough on its own.
    sim.setDevices({{"a", WAVE_FORMAT_4M16}, {"b", kUnsuitable}});
    ASSERT_TRUE(mSound::CheckInputDevice());
    EXPECT_EQ(mSound::nuDeviceId, 0);
    EXPECT_TRUE(boxes.messages().empty());
}

// The scan stays as it is; a chosen input only replaces what it found, until chosen back.
TEST_F(Capture, AChosenInputIsRecordedInsteadOfTheScannedDeviceAndNamed) {
    sim.setDevices({{"Line in"}, {"USB Detector"}});
    ASSERT_TRUE(mSound::CheckInputDevice());
    ASSERT_EQ(mSound::nuDeviceId, 1);
    const auto inputs = mSound::Inputs();
    ASSERT_EQ(inputs.size(), 2u);
    EXPECT_TRUE(inputs[1].isDefault);
    EXPECT_EQ(mSound::InputInUse(), "") << "nothing open";

    mSound::ChooseInput("Line in");
    EXPECT_EQ(mSound::ChosenInput(), "Line in");
    ASSERT_TRUE(mSound::StartCapture(1024, 2048));
    EXPECT_EQ(sim.openedDevice(), 0u);
    EXPECT_EQ(mSound::nuDeviceId, 1) << "the scan's result is kept";
    EXPECT_EQ(mSound::InputInUse(), "Line in");

    mSound::ChooseInput("");
    ASSERT_TRUE(mSound::StartCapture(1024, 2048));
    EXPECT_EQ(sim.openedDevice(), 1u);
    EXPECT_EQ(mSound::InputInUse(), "USB Detector");
    mSound::StopCapture();
    EXPECT_EQ(mSound::InputInUse(), "");

    mSound::ChooseInput("Line in");
    sim.setDevices({{"USB Detector"}});
    EXPECT_FALSE(mSound::StartCapture(1024, 2048));
    ExpectOneBox("The input \"Line in\" is not available; it may have been unplugged.");
    ExpectNothingHeld();
    mSound::ChooseInput("");
}

// --- Starting -----------------------------------------------------------------------------------

TEST_F(Capture, StartOpensSixteenBitMonoAtTheRateWithTwoBuffersQueued) {
    ASSERT_TRUE(mSound::StartCapture(1024, 4096));
    const WAVEFORMATEX& f = sim.openedFormat();
    EXPECT_EQ(f.wFormatTag, 1);
    EXPECT_EQ(f.nChannels, 1);
    EXPECT_EQ(f.nSamplesPerSec, 4096u);
    EXPECT_EQ(f.wBitsPerSample, 16);
    EXPECT_EQ(f.nBlockAlign, 2);
    EXPECT_EQ(f.nAvgBytesPerSec, 8192u);
    EXPECT_TRUE(sim.isStarted());
    EXPECT_EQ(sim.queuedBuffers(), 2u);
    EXPECT_EQ(mSound::aHeaders[0].dwBufferLength, 2048u);
    EXPECT_EQ(GlobalBlocksInUse(), blocksBefore + 2);
    EXPECT_EQ(mSound::nuStartIndex, 2049);
    EXPECT_TRUE(boxes.messages().empty());
}

struct FailingStep {
    Step step;
    int skip;
    MMRESULT code;
    const char* name;
};

class CaptureStartFailure : public Capture, public ::testing::WithParamInterface<FailingStep> {};

TEST_P(CaptureStartFailure, ShowsThePlatformTextAndReleasesEverything) {
    const FailingStep f = GetParam();
    sim.failAt(f.step, f.code, f.skip);
    EXPECT_FALSE(mSound::StartCapture(1024, 2048));
    ExpectOneBox(ErrorText(f.code));
    ExpectNothingHeld();
    EXPECT_EQ(mSound::nuResult, static_cast<std::int32_t>(f.code));
    // The failure was transient: the next start works.
    boxes.clear();
    EXPECT_TRUE(mSound::StartCapture(1024, 2048));
    EXPECT_TRUE(boxes.messages().empty());
}

INSTANTIATE_TEST_SUITE_P(
    EachStep, CaptureStartFailure,
    ::testing::Values(FailingStep{Step::Open, 0, MMSYSERR_ALLOCATED, "Open"},
                      FailingStep{Step::Prepare, 0, MMSYSERR_NOMEM, "FirstPrepare"},
                      FailingStep{Step::Add, 0, MMSYSERR_INVALPARAM, "FirstAdd"},
                      FailingStep{Step::Prepare, 1, MMSYSERR_NOMEM, "SecondPrepare"},
                      FailingStep{Step::Add, 1, MMSYSERR_ERROR, "SecondAdd"},
                      FailingStep{Step::Start, 0, MMSYSERR_NODRIVER, "Start"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Capture, RatesAndLengthsTheDeviceCannotTakeFailWithAMessage) {
    EXPECT_FALSE(mSound::StartCapture(1024, 500));
    ASSERT_EQ(boxes.messages().size(), 1u);
    // The text is taken right after the failure, so it carries what the device layer said.
    EXPECT_EQ(boxes.messages()[0].text.rfind(ErrorText(WAVERR_BADFORMAT).substr(0, 40), 0), 0u);
    EXPECT_NE(boxes.messages()[0].text.find("500 samples per second"), std::string::npos);
    ExpectNothingHeld();
    boxes.clear();
    EXPECT_FALSE(mSound::StartCapture(0, 2048));
    ExpectOneBox(ErrorText(MMSYSERR_INVALPARAM));
    ExpectNothingHeld();
    boxes.clear();
    EXPECT_FALSE(mSound::StartCapture(-4, 2048));
    EXPECT_EQ(boxes.messages().size(), 1u);
    ExpectNothingHeld();
}

TEST_F(Capture, StartWhileCapturingTearsTheOldCaptureDownFirst) {
    ASSERT_TRUE(mSound::StartCapture(1024, 2048));
    const HWAVEIN first = mSound::hWaveIn;
    ASSERT_TRUE(mSound::StartCapture(2048, 2048));
    EXPECT_EQ(sim.openCount(), 2);
    EXPECT_EQ(sim.closeCount(), 1);
    const auto& calls = sim.calls();
    const auto close = std::find(calls.begin(), calls.end(), "close");
    const auto reopen = std::find(calls.begin() + 1, calls.end(), "open 0");
    ASSERT_NE(close, calls.end());
    EXPECT_LT(close, reopen);
    EXPECT_LT(std::find(calls.begin(), calls.end(), "stop"), close);
    EXPECT_EQ(GlobalBlocksInUse(), blocksBefore + 2);
    EXPECT_NE(mSound::hWaveIn, first);
    EXPECT_EQ(waveInReset(first), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(mSound::nuStartIndex, 4097);
}

// --- Stopping -----------------------------------------------------------------------------------

TEST_F(Capture, StopBeforeAnyCaptureOrTwiceIsHarmless) {
    mSound::StopCapture();
    mSound::StopCapture();
    EXPECT_TRUE(boxes.messages().empty());
    ASSERT_TRUE(mSound::StartCapture(1024, 2048));
    mSound::StopCapture();
    mSound::StopCapture();
    EXPECT_TRUE(boxes.messages().empty());
    ExpectNothingHeld();
}

TEST_F(Capture, StopKeepsTheWindowAndNoFreedBufferIsReadAfterIt) {
    sim.setSource(SampleSource::Constant(7));
    ASSERT_TRUE(mSound::StartCapture(1024, 2048));
    ASSERT_TRUE(sim.completeBuffer() && sim.completeBuffer());
    mSound::BufferReady();
    ASSERT_TRUE(mSound::BufferReady());
    mSound::StopCapture(); // marks both headers done while freeing their memory
    EXPECT_EQ(mSound::nuStartIndex, 1);
    EXPECT_EQ(mSound::aSamples[2048], 7);
    const std::int32_t current = mSound::nuCurrentBuffer;
    EXPECT_TRUE(mSound::BufferReady()); // the frame already there stays readable
    EXPECT_EQ(mSound::nuCurrentBuffer, current);
    EXPECT_EQ(mSound::nuStartIndex, 1);
}

// --- Taking buffers in
// ----------------------------------------------------------------------------

TEST_F(Capture, TheFirstFrameComesWithTheSecondBuffer) {
    const std::int32_t N = 1024;
    ASSERT_TRUE(mSound::StartCapture(N, 2048));
    EXPECT_FALSE(mSound::BufferReady());
    EXPECT_EQ(mSound::nuStartIndex, 2 * N + 1);
    ASSERT_TRUE(sim.completeBuffer());
    EXPECT_FALSE(mSound::BufferReady());
    EXPECT_EQ(mSound::nuStartIndex, N + 1);
    EXPECT_FALSE(mSound::BufferReady()) << "no new buffer, read position past N";
    ASSERT_TRUE(sim.completeBuffer());
    EXPECT_TRUE(mSound::BufferReady());
    EXPECT_EQ(mSound::nuStartIndex, 1);
    EXPECT_EQ(sim.queuedBuffers(), 2u) << "each taken buffer is queued again";
}

TEST_F(Capture, TwoCompletedBuffersNeedTwoCalls) {
    const std::int32_t N = 1024;
    ASSERT_TRUE(mSound::StartCapture(N, 2048));
    ASSERT_TRUE(sim.completeBuffer());
    ASSERT_TRUE(sim.completeBuffer());
    EXPECT_FALSE(mSound::BufferReady());
    EXPECT_EQ(mSound::nuStartIndex, N + 1);
    EXPECT_TRUE(mSound::BufferReady());
    EXPECT_EQ(mSound::nuStartIndex, 1);
}

TEST_F(Capture, TheReadPositionMovesBackByNButNotBelowOne) {
    const std::int32_t N = 1024;
    ASSERT_TRUE(mSound::StartCapture(N, 2048));
    ASSERT_TRUE(sim.completeBuffer() && sim.completeBuffer());
    const std::uint64_t clamps = mSound::Clamps();
    mSound::BufferReady();
    mSound::BufferReady();
    mSound::nuStartIndex = N + 3;
    ASSERT_TRUE(sim.completeBuffer());
    EXPECT_TRUE(mSound::BufferReady());
    EXPECT_EQ(mSound::nuStartIndex, 3);
    EXPECT_EQ(mSound::Clamps(), clamps) << "moved back by N whole: no sound skipped";
    mSound::nuStartIndex = 5;
    ASSERT_TRUE(sim.completeBuffer());
    EXPECT_TRUE(mSound::BufferReady());
    EXPECT_EQ(mSound::nuStartIndex, 1);
    EXPECT_EQ(mSound::Clamps(), clamps + 1) << "stopped at 1: counted for the loop's figures";
    EXPECT_TRUE(mSound::BufferReady()) << "no buffer taken";
    EXPECT_EQ(mSound::Clamps(), clamps + 1);
}

TEST_F(Capture, TheWindowHoldsTheTwoNewestBuffersOldestFirst) {
    const std::int32_t N = 1024;
    std::vector<std::int16_t> ramp(3 * N);
    for (int i = 0; i < 3 * N; ++i) ramp[i] = static_cast<std::int16_t>(i - N);
    sim.setSource(SampleSource::Sequence(ramp));
    ASSERT_TRUE(mSound::StartCapture(N, 2048));
    ASSERT_TRUE(sim.completeBuffer() && sim.completeBuffer());
    mSound::BufferReady();
    mSound::BufferReady();
    ASSERT_TRUE(sim.completeBuffer());
    mSound::BufferReady(); // the third buffer pushes the first out
    for (int i = 1; i <= 2 * N; ++i) ASSERT_EQ(mSound::aSamples[i], ramp[N + i - 1]) << i;
}

TEST_F(Capture, AConstantInputIsLevelledToZeroFromTheSecondFrameOn) {
    const std::int32_t N = 1024;
    const std::int16_t c = 300;
    sim.setSource(SampleSource::Constant(c));
    mSound::nuDcOffset = 0.0;
    ASSERT_TRUE(mSound::StartCapture(N, 2048));
    ASSERT_TRUE(sim.completeBuffer() && sim.completeBuffer());
    mSound::BufferReady();
    ASSERT_TRUE(mSound::BufferReady());
    for (double s : ReadFrame(N)) ASSERT_DOUBLE_EQ(s, double(c) / N);
    EXPECT_DOUBLE_EQ(mSound::nuLastSample, c);

    for (int frame = 2; frame <= 4; ++frame) {
        ASSERT_TRUE(sim.completeBuffer());
        ASSERT_TRUE(mSound::BufferReady());
        EXPECT_DOUBLE_EQ(mSound::nuDcOffset, c);
        for (double s : ReadFrame(N)) ASSERT_EQ(s, 0.0) << "frame " << frame;
    }
}

TEST_F(Capture, EachFrameIsLevelledByTheMeanOfTheFrameReadBeforeIt) {
    const std::int32_t N = 1024;
    std::vector<std::int16_t> seq(N);
    for (int i = 0; i < N; ++i) seq[i] = static_cast<std::int16_t>(i % 2 ? 120 : 80); // mean 100
    sim.setSource(SampleSource::Sequence(seq));
    ASSERT_TRUE(mSound::StartCapture(N, 2048));
    ASSERT_TRUE(sim.completeBuffer() && sim.completeBuffer());
    mSound::BufferReady();
    ASSERT_TRUE(mSound::BufferReady());
    ReadFrame(N);
    // A frozen pass reads nothing: the next frame keeps the same offset.
    ASSERT_TRUE(sim.completeBuffer());
    ASSERT_TRUE(mSound::BufferReady());
    EXPECT_DOUBLE_EQ(mSound::nuDcOffset, 100.0);
    mSound::nuStartIndex += N;
    ASSERT_TRUE(sim.completeBuffer());
    ASSERT_TRUE(mSound::BufferReady());
    EXPECT_DOUBLE_EQ(mSound::nuDcOffset, 100.0);
    const std::vector<double> frame = ReadFrame(N);
    EXPECT_DOUBLE_EQ(frame[0] * N, -20.0);
    EXPECT_DOUBLE_EQ(frame[1] * N, 20.0);
}

TEST_F(Capture, TheDcOffsetCarriesOverIntoTheNextRun) {
    mSound::nuDcOffset = 42.0;
    sim.setSource(SampleSource::Constant(50));
    ASSERT_TRUE(mSound::StartCapture(1024, 2048));
    ASSERT_TRUE(sim.completeBuffer() && sim.completeBuffer());
    mSound::BufferReady();
    ASSERT_TRUE(mSound::BufferReady());
    EXPECT_DOUBLE_EQ(mSound::nuDcOffset, 42.0);
    EXPECT_DOUBLE_EQ(mSound::SampleAt(1, 1), 8.0);
}

TEST_F(Capture, BufferReadyBeforeAnyCaptureSaysNoWithoutTouchingTheOffset) {
    mSound::nuBufferSamples = 0; // as at program start
    mSound::nuStartIndex = 0;
    mSound::nuSampleSum = 5.0;
    mSound::nuDcOffset = 1.0;
    EXPECT_FALSE(mSound::BufferReady());
    EXPECT_DOUBLE_EQ(mSound::nuDcOffset, 1.0);
}

// --- A device that goes away --------------------------------------------------------------------

TEST_F(Capture, ADeviceThatDisappearsMidCaptureLeavesTheProgramResponsive) {
    const std::int32_t N = 1024;
    sim.setSource(SampleSource::Noise(1000));
    ASSERT_TRUE(mSound::StartCapture(N, 2048));
    ASSERT_TRUE(sim.completeBuffer() && sim.completeBuffer());
    mSound::BufferReady();
    ASSERT_TRUE(mSound::BufferReady());
    ReadFrame(N);

    sim.disappear();
    EXPECT_FALSE(sim.completeBuffer());
    const auto started = std::chrono::steady_clock::now();
    for (int pass = 0; pass < 1000; ++pass) ASSERT_FALSE(mSound::BufferReady());
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(1));
    EXPECT_TRUE(boxes.messages().empty());

    mSound::StopCapture();
    ExpectNothingHeld();
    // Starting again on the vanished device fails with the platform's text, releasing everything.
    EXPECT_FALSE(mSound::StartCapture(N, 2048));
    ExpectOneBox(ErrorText(MMSYSERR_NODRIVER));
    ExpectNothingHeld();
}

// --- A device that stops delivering --------------------------------------------------------------

TEST_F(Capture, ALostDeviceIsReportedOnceWithWhatHappenedAndReleased) {
    const std::int32_t N = 1024;
    EXPECT_TRUE(mSound::CaptureRunning()) << "nothing open: nothing to report";
    ASSERT_TRUE(mSound::StartCapture(N, 2048));
    ASSERT_TRUE(sim.completeBuffer());
    EXPECT_TRUE(mSound::CaptureRunning());
    EXPECT_TRUE(boxes.messages().empty());

    sim.disappear();
    EXPECT_FALSE(mSound::CaptureRunning());
    ExpectOneBox("The sound input device is no longer available; it may have been unplugged: "
                 "the simulated device went away (input \"Simulated input\").");
    ExpectNothingHeld();
    EXPECT_TRUE(mSound::CaptureRunning()) << "released: nothing more to say";
    EXPECT_EQ(boxes.messages().size(), 1u);
}

TEST_F(Capture, ADeviceThatGoesSilentCountsAsLostAfterThreeBuffersAndASecond) {
    ManualClock clock;
    const std::int32_t N = 2048; // buffers of 0.5 s at 4096 S/s: lost after 2.5 s of silence
    ASSERT_TRUE(mSound::StartCapture(N, 4096));
    clock.advanceMs(2400);
    EXPECT_TRUE(mSound::CaptureRunning());
    ASSERT_TRUE(sim.completeBuffer()); // a buffer: the silence starts again
    clock.advanceMs(1000);
    EXPECT_TRUE(mSound::CaptureRunning());
    clock.advanceMs(2400);
    EXPECT_TRUE(mSound::CaptureRunning());
    EXPECT_TRUE(boxes.messages().empty());
    clock.advanceMs(200);
    EXPECT_FALSE(mSound::CaptureRunning());
    ASSERT_EQ(boxes.messages().size(), 1u);
    EXPECT_NE(boxes.messages()[0].text.find("no sound has arrived for 2.6 seconds"),
              std::string::npos)
        << boxes.messages()[0].text;
    ExpectNothingHeld();
}

// The loop reads a frame in one call; the values, the DC sum that the next BufferReady averages
// and the last sample must be the very bits that sample-by-sample reading gives, for a frame
// anywhere in the window and an offset that is not a whole number.
TEST_F(Capture, AWholeFrameReadsTheSameBitsAsOneSampleAtATime) {
    constexpr std::int32_t N = 1024;
    std::vector<std::int16_t> window(2 * N + 1);
    std::uint32_t seed = 12345;
    for (auto& s : window) {
        seed = seed * 1664525u + 1013904223u;
        s = static_cast<std::int16_t>(seed >> 16);
    }
    const auto bits = [](double v) { return std::bit_cast<std::uint64_t>(v); };
    for (const std::int32_t first : {1, 2, 333, N}) {
        for (const std::size_t count : {std::size_t{N}, std::size_t{1}, std::size_t{0}}) {
            mSound::aSamples = window;
            mSound::nuDcOffset = 1000.0 / 3.0 - 0.1;
            mSound::nuSampleSum = 0.1;
            mSound::nuLastSample = -7.0;
            std::vector<double> one(count);
            for (std::size_t n = 0; n < count; ++n)
                one[n] = mSound::SampleAt(first + static_cast<std::int32_t>(n), N);
            const double sum = mSound::nuSampleSum;
            const double last = mSound::nuLastSample;

            mSound::nuSampleSum = 0.1;
            mSound::nuLastSample = -7.0;
            std::vector<double> whole(count, -1.0);
            mSound::SamplesAt(first, N, whole);
            for (std::size_t n = 0; n < count; ++n)
                ASSERT_EQ(bits(whole[n]), bits(one[n])) << "first " << first << ", n " << n;
            EXPECT_EQ(bits(mSound::nuSampleSum), bits(sum)) << first << " " << count;
            EXPECT_EQ(bits(mSound::nuLastSample), bits(last)) << first << " " << count;
        }
    }
    mSound::aSamples.clear();
}
