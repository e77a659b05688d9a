// SPDX-License-Identifier: GPL-3.0-or-later
// One full drawn pass of the acquisition loop, headless: the frame read from the capture
// window, the transform, 781 bins conditioned and coloured, the spectrum trace, the waterfall
// row and its scroll, plus the event-loop round trips of the pass's event points.
#include "analyser/fFFT.h"
#include "platform/system/message_box.h"
#include "platform/system/perf_counter.h"
#include "platform/sound/wave_in_simulated.h"
#include "tools/loop_driver.h"

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cstdlib>

namespace {

// A window running on a simulated 700 Hz tone with the performance counter held still, so
// that every pass reads a block and draws.
class Harness {
public:
    explicit Harness(int samples) {
        QDir(base_.path()).mkpath("metals/data");
        input_.setSource(platform::SampleSource::Sine(700, 8000));
        window_.Form_Load();
        window_.hide(); // painting the screen is not part of a pass
        window_.framePeriodMs = 0;
        if (samples == 32768) window_.optSamples(5).setValue(true);
        window_.mnuStart_Click();
        for (int i = 0; i < 2; ++i) {
            loop_driver::SpinUntil(
                [&] { return window_.LoopWaitingFor() == fFFT::LoopWait::Block; }, kNoLimit);
            input_.completeBuffer();
        }
        onePass();
    }
    int fftSize() const { return window_.nuFftSize; }
    int columns() const { return window_.nuLastBin - window_.nuFirstBin + 1; }

    // From one pass parked at step 6 to the next one parked there.
    void onePass() {
        loop_driver::ToNextPassParkedAt(window_, fFFT::LoopPoint::AfterRead, kNoLimit);
    }

private:
    static constexpr int kNoLimit = -1; // a benchmark reads no clock of its own per round

    QTemporaryDir base_;
    platform::MessageBoxRecorder messages_;
    platform::SimulatedWaveIn input_;
    platform::ManualClock clock_;
    fFFT window_{base_.path()};
};

void BM_DrawnPass(benchmark::State& state) {
    Harness harness(static_cast<int>(state.range(0)));
    if (harness.fftSize() != state.range(0) || harness.columns() != 781) {
        state.SkipWithError("the window did not reach the wanted transform length and range");
        return;
    }
    for (auto _ : state) harness.onePass();
}
BENCHMARK(BM_DrawnPass)->Arg(2048)->Arg(32768)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
