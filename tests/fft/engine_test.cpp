// SPDX-License-Identifier: GPL-3.0-or-later
// The engine's contract as the analyser sees it: lengths, indices, errors, windowing, the lazy
// transform and its timing.
#include "fft/clsFourier.h"

#include "platform/system/message_box.h"
#include "platform/system/perf_counter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdint>
#include <memory>
#include <numbers>
#include <vector>

namespace {

const char* const kLengthText = "Number of samples must be a positive value of the form 2 ^ n";
const char* const kIndexText = "Index out of range or number of samples unknown";

// A counter that moves 250 counts on every read, so each transform (two reads) lasts exactly
// 250 counts and the number of reads tells how many transforms ran.
class SteppingClock final : public platform::CounterSource {
public:
    SteppingClock() { platform::SetCounterSource(this); }
    ~SteppingClock() override { platform::SetCounterSource(nullptr); }
    std::int64_t frequency() const override { return 1'000'000; }
    std::int64_t count() const override {
        ++reads;
        now += 250;
        return now;
    }
    mutable int reads = 0;
    mutable std::int64_t now = 0;
};

template <class F> void ExpectFourierError(F&& call, int number, const char* text) {
    try {
        call();
        ADD_FAILURE() << "no error raised";
    } catch (const FourierError& e) {
        EXPECT_EQ(e.number(), number);
        EXPECT_STREQ(e.what(), text);
    }
}

std::vector<std::complex<double>> Outputs(clsFourier& f, int n) {
    std::vector<std::complex<double>> out;
    for (int k = 1; k <= n; ++k) out.emplace_back(f.RealOut(k), f.ImagOut(k));
    return out;
}

std::vector<std::complex<double>> Dft(const std::vector<std::complex<double>>& x) {
    const auto n = x.size();
    std::vector<std::complex<double>> out(n);
    for (std::size_t k = 0; k < n; ++k)
        for (std::size_t j = 0; j < n; ++j)
            out[k] += x[j] * std::polar(1.0, 2 * std::numbers::pi * double(j * k % n) / double(n));
    return out;
}

double Blackman(int n, int N) {
    const double t = 2 * std::numbers::pi * n / (N - 1);
    return 0.42 - 0.5 * std::cos(t) + 0.08 * std::cos(2 * t);
}

TEST(FourierEngine, TwoPointExampleHalvesInputAndNeedsNoScaling) {
    clsFourier f;
    f.NumberOfSamples(2);
    f.RealIn(1, 1.0);
    f.RealIn(2, 3.0);
    EXPECT_DOUBLE_EQ(f.RealOut(1), 2.0);
    EXPECT_DOUBLE_EQ(f.RealOut(2), -1.0);
    EXPECT_EQ(f.ImagOut(1), 0.0);
    EXPECT_EQ(f.ImagOut(2), 0.0);
    EXPECT_DOUBLE_EQ(f.ComplexOut(1), 2.0);
    EXPECT_DOUBLE_EQ(f.ComplexOut(2), 1.0);
}

TEST(FourierEngine, BadLengthsFailWith380AndKeepTheOldBlock) {
    clsFourier fresh;
    for (int bad : {1, 0, -4, 6, 12, INT32_MIN, INT32_MAX}) {
        ExpectFourierError([&] { fresh.NumberOfSamples(bad); }, 380, kLengthText);
        ExpectFourierError([&] { fresh.ComplexOut(1); }, 381, kIndexText);
    }

    SteppingClock clock;
    clsFourier f;
    f.NumberOfSamples(4);
    for (int i = 1; i <= 4; ++i) f.RealIn(i, i);
    const auto before = Outputs(f, 4);
    const int reads = clock.reads;
    for (int bad : {1, 0, -4, 6, 12})
        ExpectFourierError([&] { f.NumberOfSamples(bad); }, 380, kLengthText);
    // Still length 4, still transformed: no new transform, same values, index 5 still refused.
    EXPECT_EQ(Outputs(f, 4), before);
    EXPECT_EQ(clock.reads, reads);
    ExpectFourierError([&] { f.RealOut(5); }, 381, kIndexText);
}

TEST(FourierEngine, IndexOutsideBlockOrBeforeLengthFailsWith381AndStoresNothing) {
    clsFourier f;
    ExpectFourierError([&] { f.RealIn(1, 1.0); }, 381, kIndexText);
    ExpectFourierError([&] { f.ImagIn(1, 1.0); }, 381, kIndexText);
    ExpectFourierError([&] { f.RealOut(1); }, 381, kIndexText);
    ExpectFourierError([&] { f.ImagOut(1); }, 381, kIndexText);

    SteppingClock clock;
    f.NumberOfSamples(8);
    f.RealIn(3, 2.0);
    const auto before = Outputs(f, 8);
    const int reads = clock.reads;
    for (int bad : {0, 9, -1, INT32_MIN, INT32_MAX}) {
        ExpectFourierError([&] { f.RealIn(bad, 5.0); }, 381, kIndexText);
        ExpectFourierError([&] { f.ImagIn(bad, 5.0); }, 381, kIndexText);
        ExpectFourierError([&] { f.ComplexOut(bad); }, 381, kIndexText);
        ExpectFourierError([&] { f.RealOut(bad); }, 381, kIndexText);
        ExpectFourierError([&] { f.ImagOut(bad); }, 381, kIndexText);
    }
    // A refused input neither stored a value nor marked the block for a new transform.
    EXPECT_EQ(Outputs(f, 8), before);
    EXPECT_EQ(clock.reads, reads);
    EXPECT_NO_THROW(f.RealOut(1));
    EXPECT_NO_THROW(f.RealOut(8));

    // Right after a complete ascending frame, the next index in line is still one too many.
    for (int i = 1; i <= 8; ++i) f.RealIn(i, i);
    ExpectFourierError([&] { f.RealIn(9, 1.0); }, 381, kIndexText);
    const auto full = Outputs(f, 8);
    clsFourier g;
    g.NumberOfSamples(8);
    for (int i = 1; i <= 8; ++i) g.RealIn(i, i);
    EXPECT_EQ(Outputs(g, 8), full);
}

// The whole-frame feed: the wrong number of samples, or no length yet, fails with 381 and
// changes nothing; otherwise it is the ascending RealIn run, over whatever was stored before.
TEST(FourierEngine, WholeFrameFeedIsTheAscendingRunOrNothing) {
    clsFourier f;
    const std::vector<double> eight{1, -2, 3, 0.5, -0.25, 7, 1e-300, -0.0};
    ExpectFourierError([&] { f.RealInFrame(eight); }, 381, kIndexText);

    SteppingClock clock;
    f.NumberOfSamples(8);
    f.RealIn(3, 2.0);
    const auto before = Outputs(f, 8);
    const int reads = clock.reads;
    const std::vector<double> seven(7, 1.0), nine(9, 1.0);
    ExpectFourierError([&] { f.RealInFrame(seven); }, 381, kIndexText);
    ExpectFourierError([&] { f.RealInFrame(nine); }, 381, kIndexText);
    ExpectFourierError([&] { f.RealInFrame({}); }, 381, kIndexText);
    EXPECT_EQ(Outputs(f, 8), before);
    EXPECT_EQ(clock.reads, reads);

    for (bool window : {false, true}) {
        clsFourier byOne, whole;
        byOne.WithTimeWindow(window ? -1 : 0);
        whole.WithTimeWindow(window ? -1 : 0);
        byOne.NumberOfSamples(8);
        whole.NumberOfSamples(8);
        // Leftovers of every kind: a transformed block, imaginary parts, a run broken off.
        for (clsFourier* e : {&byOne, &whole}) {
            for (int i = 1; i <= 8; ++i) e->RealIn(i, i);
            e->ImagIn(2, 5.0);
            e->ComplexOut(1);
            e->ImagIn(6, -3.0);
            e->RealIn(1, 4.0);
            e->RealIn(2, 4.0);
        }
        for (int i = 1; i <= 8; ++i) byOne.RealIn(i, eight[i - 1]);
        whole.RealInFrame(eight);
        const auto expected = Outputs(byOne, 8);
        EXPECT_EQ(Outputs(whole, 8), expected) << window;
        for (int k = 8; k >= 1; --k) EXPECT_EQ(whole.ComplexOut(k), byOne.ComplexOut(k));
    }
}

// Magnitudes are made a chunk at a time and kept while the block stands: whatever the order of
// the reads, each equals the root of its own bin, and any write makes the next read fresh.
TEST(FourierEngine, MagnitudeReadsInAnyOrderFollowTheBlock) {
    const int n = 512;
    clsFourier f;
    f.NumberOfSamples(n);
    for (int i = 1; i <= n; ++i) f.RealIn(i, std::sin(0.37 * i) + (i % 7));
    const int order[] = {300, 1, 64, 65, 128, 63, 512, 129, 2, 450, 449, 200};
    for (int round = 0; round < 3; ++round) {
        for (int k : order) {
            const double magnitude = f.ComplexOut(k);
            const double re = f.RealOut(k), im = f.ImagOut(k);
            ASSERT_EQ(magnitude, std::sqrt(re * re + im * im)) << round << " " << k;
        }
        f.ImagIn(65, 2.5 * (round + 1)); // every bin moves
    }
}

TEST(FourierEngine, ConstantInputLandsInBinZeroOnly) {
    for (int n : {2, 16, 1024}) {
        clsFourier f;
        f.NumberOfSamples(n);
        for (int i = 1; i <= n; ++i) f.RealIn(i, 3.0);
        EXPECT_NEAR(f.ComplexOut(1), n * 3.0 / 2, 1e-12 * n) << n;
        for (int k = 2; k <= n; ++k) EXPECT_NEAR(f.ComplexOut(k), 0.0, 1e-12 * n) << n << " " << k;
    }
}

TEST(FourierEngine, WindowWeightsEachStoredValueWithBlackmanZeroAtBothEnds) {
    // A single non-zero input x at position p gives X(0) = stored value there.
    const int n = 64;
    clsFourier f;
    f.WithTimeWindow(-1);
    f.NumberOfSamples(n);
    for (int p : {0, 1, 20, 31, 32, n - 2, n - 1}) {
        for (int i = 1; i <= n; ++i) f.RealIn(i, i == p + 1 ? 7.0 : 0.0);
        EXPECT_NEAR(f.RealOut(1), 7.0 * Blackman(p, n), 1e-14) << p;
        EXPECT_NEAR(f.ComplexOut(n / 2), 7.0 * Blackman(p, n), 1e-14) << p;
    }
    for (int i = 1; i <= n; ++i) f.RealIn(i, i == 1 || i == n ? 1e6 : 0.0);
    for (int k = 1; k <= n; ++k) EXPECT_NEAR(f.ComplexOut(k), 0.0, 1e-9) << k;
}

TEST(FourierEngine, ImagInIsRawAndRealInAfterItClearsIt) {
    clsFourier f;
    f.WithTimeWindow(-1);
    f.NumberOfSamples(4);
    f.RealIn(2, 4.0); // weighted: Blackman(1, 4) * 4
    f.ImagIn(2, 5.0); // neither weighted nor halved, Re untouched
    const std::complex<double> x1(Blackman(1, 4) * 4.0, 5.0);
    const auto out = Outputs(f, 4);
    const auto expected = Dft({0.0, x1, 0.0, 0.0});
    for (int k = 0; k < 4; ++k) EXPECT_NEAR(std::abs(out[k] - expected[k]), 0.0, 1e-14) << k;

    f.NumberOfSamples(4);
    f.ImagIn(2, 5.0);
    f.RealIn(2, 4.0); // clears the imaginary part just written
    for (int k = 1; k <= 4; ++k) {
        const std::complex<double> bin =
            x1.real() * std::polar(1.0, std::numbers::pi / 2 * (k - 1));
        EXPECT_NEAR(f.RealOut(k), bin.real(), 1e-14) << k;
        EXPECT_NEAR(f.ImagOut(k), bin.imag(), 1e-14) << k;
    }
}

TEST(FourierEngine, PartialRewriteTransformsThePreviousOutputsAsInput) {
    clsFourier f;
    f.NumberOfSamples(4);
    for (int i = 1; i <= 4; ++i) f.RealIn(i, 2.0 * i * i);
    const auto first = Outputs(f, 4);
    f.RealIn(1, 10.0);
    // Element k held bin k; natural position n sits at element reverse(n) = 0, 2, 1, 3.
    const std::vector<std::complex<double>> input{5.0, first[2], first[1], first[3]};
    const auto expected = Dft(input);
    const auto second = Outputs(f, 4);
    for (int k = 0; k < 4; ++k) EXPECT_NEAR(std::abs(second[k] - expected[k]), 0.0, 1e-12) << k;
}

TEST(FourierEngine, OneTransformPerBlockAndTimingKeepsItsValue) {
    SteppingClock clock;
    clsFourier f;
    EXPECT_EQ(f.Timing(), 0.0f);
    f.NumberOfSamples(256);
    EXPECT_EQ(clock.reads, 0); // setting a length does not transform yet
    for (int i = 1; i <= 256; ++i) f.RealIn(i, std::sin(i * 0.3));
    EXPECT_EQ(clock.reads, 0);
    const auto first = Outputs(f, 256);
    for (int k = 1; k <= 256; ++k) f.ComplexOut(k);
    EXPECT_EQ(clock.reads, 2);
    EXPECT_FLOAT_EQ(f.Timing(), 0.25f); // 250 counts at 1 MHz
    clock.now += 1'000'000;
    EXPECT_FLOAT_EQ(f.Timing(), 0.25f);
    EXPECT_EQ(Outputs(f, 256), first); // a second transform would have changed them

    f.ImagIn(3, 1.0);
    f.RealOut(1);
    EXPECT_EQ(clock.reads, 4);
}

TEST(FourierEngine, TimingUsesTheCounterFrequencyReadAtConstruction) {
    platform::ManualClock clock(1000);
    clsFourier f;
    f.NumberOfSamples(2);
    f.RealIn(1, 1.0);
    f.ComplexOut(1);
    EXPECT_EQ(f.Timing(), 0.0f); // a clock that did not move measures nothing
}

TEST(FourierEngine, SameLengthAgainClearsTheBlock) {
    clsFourier f;
    f.NumberOfSamples(8);
    for (int i = 1; i <= 8; ++i) f.RealIn(i, 1.0 + i);
    f.ImagIn(4, 3.0);
    EXPECT_GT(f.ComplexOut(1), 0.0);
    f.NumberOfSamples(8);
    for (int k = 1; k <= 8; ++k) {
        EXPECT_EQ(f.RealOut(k), 0.0);
        EXPECT_EQ(f.ImagOut(k), 0.0);
    }
    f.NumberOfSamples(2); // a shorter block refuses the old indices
    ExpectFourierError([&] { f.RealIn(3, 1.0); }, 381, kIndexText);
}

TEST(FourierEngine, WindowSwitchAppliesFromTheNextInputOnward) {
    const int n = 8;
    clsFourier f;
    f.NumberOfSamples(n);
    f.WithTimeWindow(-1);
    f.RealIn(3, 2.0); // weighted
    f.WithTimeWindow(0);
    f.RealIn(4, 2.0);    // halved
    f.WithTimeWindow(1); // any non-zero value switches it on
    f.RealIn(5, 2.0);    // weighted
    std::vector<std::complex<double>> x(n);
    x[2] = 2.0 * Blackman(2, n);
    x[3] = 1.0;
    x[4] = 2.0 * Blackman(4, n);
    const auto expected = Dft(x);
    const auto out = Outputs(f, n);
    for (int k = 0; k < n; ++k) EXPECT_NEAR(std::abs(out[k] - expected[k]), 0.0, 1e-13) << k;

    // Switching does not mark the block pending nor re-weight what is stored.
    SteppingClock clock;
    f.WithTimeWindow(0);
    EXPECT_EQ(Outputs(f, n), out);
    EXPECT_EQ(clock.reads, 0);
}

TEST(FourierEngine, AlignmentCheckStaysSilentForOrdinaryObjects) {
    platform::MessageBoxRecorder recorder;
    clsFourier onStack;
    auto onHeap = std::make_unique<clsFourier>();
    std::vector<clsFourier> many(5);
    EXPECT_TRUE(recorder.messages().empty());
}

} // namespace

// A frame written but never read (a skipped pass) is simply replaced by the next one: the second
// in-order write of the whole block must not trip over the first, at the analyser's own lengths.
TEST(FourierEngine, UnreadFrameIsReplacedByTheNextOne) {
    for (int n : {2048, 32768}) {
        clsFourier twice, once;
        for (clsFourier* f : {&twice, &once}) {
            f->NumberOfSamples(n);
            f->WithTimeWindow(-1);
        }
        for (int i = 1; i <= n; ++i) twice.RealIn(i, std::cos(0.1 * i));
        for (int i = 1; i <= n; ++i) twice.RealIn(i, std::sin(0.3 * i));
        for (int i = 1; i <= n; ++i) once.RealIn(i, std::sin(0.3 * i));
        for (int k = 1; k <= n / 2; k += 7) EXPECT_EQ(twice.ComplexOut(k), once.ComplexOut(k)) << n;
    }
}

// The magnitude read has a fast path of its own: every kind of write after a finished transform
// must still make the next ComplexOut run a new one, and a fresh length must refuse reads of the
// old one.
TEST(FourierEngine, MagnitudesFollowEveryKindOfWriteAfterATransform) {
    SteppingClock clock;
    clsFourier f;
    f.NumberOfSamples(8);
    for (int i = 1; i <= 8; ++i) f.RealIn(i, i);
    const double firstBin = f.ComplexOut(1); // sum of the halved inputs
    EXPECT_DOUBLE_EQ(firstBin, 18.0);

    auto magnitudes = [&] {
        std::vector<double> m;
        for (int k = 1; k <= 8; ++k) m.push_back(f.ComplexOut(k));
        return m;
    };
    auto fromRealOutputs = [&] {
        std::vector<double> m;
        for (int k = 1; k <= 8; ++k) m.push_back(std::hypot(f.RealOut(k), f.ImagOut(k)));
        return m;
    };

    int reads = clock.reads;
    f.ImagIn(5, 3.0);
    const auto afterImag = magnitudes();
    EXPECT_EQ(clock.reads, reads + 2);
    EXPECT_NE(afterImag[0], firstBin);
    for (int k = 0; k < 8; ++k) EXPECT_NEAR(afterImag[k], fromRealOutputs()[k], 1e-12) << k;

    reads = clock.reads;
    f.RealIn(4, -7.0); // off the ascending run
    const auto afterLoose = magnitudes();
    EXPECT_EQ(clock.reads, reads + 2);
    EXPECT_NE(afterLoose, afterImag);

    reads = clock.reads;
    f.RealIn(1, 100.0); // the start of a new ascending run, left unfinished
    const double bin = f.ComplexOut(1);
    EXPECT_EQ(clock.reads, reads + 2);
    EXPECT_NE(bin, afterLoose[0]);

    f.NumberOfSamples(4);
    EXPECT_EQ(f.ComplexOut(1), 0.0); // the new block is zero, not the old outputs
    ExpectFourierError([&] { f.ComplexOut(5); }, 381, kIndexText);
    ExpectFourierError([&] { f.ComplexOut(8); }, 381, kIndexText);
}
