// SPDX-License-Identifier: GPL-3.0-or-later
// Makes the protected sample that ships with the program, "default noise": the real analyser
// window, headless, runs at its start-up settings over seeded white noise from a simulated input
// device until the waterfall is full, and its picture is saved as that sample.
//   make_default_noise <metals folder> [amplitude]
// The folder must hold a data/ folder; both files are replaced. The run is paced on a manual
// clock as a 60 Hz display would pace it, so the same arguments always give the same bytes.
#include "analyser/fFFT.h"
#include "analyser/sample_library.h"
#include "platform/system/perf_counter.h"
#include "platform/sound/wave_in_simulated.h"
#include "tools/loop_driver.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

constexpr std::uint32_t kSeed = 20240601;
constexpr double kDefaultAmplitude = 256; // a quiet input: peaks 42 dB below full scale
constexpr double kFrameMs = 1000.0 / 60.0;
constexpr double kBufferMs = 1000.0; // N samples at the start-up rate: one second of sound
constexpr int kRowsToDraw = 240;     // a little more than the 228 rows the picture holds

int Fail(const char* what) {
    std::fprintf(stderr, "make_default_noise: %s\n", what);
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: make_default_noise <metals folder> [amplitude]\n");
        return 2;
    }
    const std::filesystem::path out = argv[1];
    const double amplitude = argc == 3 ? std::atof(argv[2]) : kDefaultAmplitude;
    if (!(amplitude > 0 && amplitude <= 32767)) return Fail("the amplitude must lie in 1..32767");
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    platform::SimulatedWaveIn input;
    input.setSource(platform::SampleSource::Noise(amplitude, kSeed));
    platform::ManualClock clock;
    QTemporaryDir base;
    if (!base.isValid()) return Fail("no temporary folder");

    double nowMs = 0; // time since Start, on the manual clock
    double nextBufferMs = kBufferMs;
    fFFT w(base.path());
    w.Form_Load();
    if (w.IsClosed()) return Fail("the window closed at load");
    w.framePeriodMs = 0; // pacing is done here, on the manual clock
    const QTime startTime(12, 0, 5);
    w.TimeOfDay = [&] { return startTime.addMSecs(static_cast<int>(nowMs)); };

    auto advance = [&](double ms) {
        clock.advance(static_cast<std::int64_t>(ms * clock.frequency() / 1000.0 + 0.5));
        nowMs += ms;
    };
    // A buffer completes whenever a second of sound has arrived.
    auto deliver = [&] {
        while (nowMs >= nextBufferMs) {
            if (!input.completeBuffer()) return false;
            nextBufferMs += kBufferMs;
        }
        return true;
    };

    w.mnuStart_Click();
    int drawn = 0;
    std::uint64_t seenPass = w.PassesBegun();
    std::uint64_t waitedPass = ~std::uint64_t{0};
    QElapsedTimer guard;
    guard.start();
    while (drawn < kRowsToDraw) {
        if (guard.elapsed() > 120000) return Fail("the loop stopped drawing");
        QCoreApplication::processEvents();
        if (w.LoopParkedAt() == fFFT::LoopPoint::AfterRead && w.PassesBegun() != seenPass) {
            // A pass has read a block and draws a row; it lasts one display frame.
            seenPass = w.PassesBegun();
            ++drawn;
            advance(kFrameMs);
            if (!deliver()) return Fail("the device took no buffer");
        } else if (w.LoopWaitingFor() == fFFT::LoopWait::Block && w.PassesBegun() != waitedPass) {
            // Nothing to read until the next second of sound is in.
            waitedPass = w.PassesBegun();
            advance(nextBufferMs - nowMs);
            if (!deliver()) return Fail("the device took no buffer");
        }
    }

    w.mnuStop_Click();
    if (!loop_driver::SpinUntil([&] { return w.LoopParkedAt() == fFFT::LoopPoint::Idle; }, 10000))
        return Fail("the run did not end");

    const analyser::SampleFolders folders{out / "", out / "data" / "", std::nullopt};
    if (!analyser::SaveSample(folders, analyser::kProtectedSample, w.picWaterfall->Image()))
        return Fail("cannot save into the given folder (does it hold data/?)");
    std::printf("saved \"%s\" from %d drawn rows into %s\n", analyser::kProtectedSample, drawn,
                out.string().c_str());
    w.close();
    return 0;
}
