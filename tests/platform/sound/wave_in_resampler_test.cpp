// SPDX-License-Identifier: GPL-3.0-or-later
// The wave-input rate converter on known signals: levels in and beyond the pass band, the delay,
// and output that follows the input sample by sample rather than in blocks.
#include "platform/sound/wave_in_resampler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

using platform::WaveInResampler;

namespace {

constexpr double kPi = 3.14159265358979323846;

// Amplitude of `hz` in a Blackman-weighted stretch of x.
double Level(const std::vector<std::int16_t>& x, std::size_t from, std::size_t n, double hz,
             double rate) {
    double re = 0, im = 0, w = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const double a = 2 * kPi * static_cast<double>(i) / static_cast<double>(n - 1);
        const double h = 0.42 - 0.5 * std::cos(a) + 0.08 * std::cos(2 * a);
        re += h * x[from + i] * std::cos(2 * kPi * hz * static_cast<double>(i) / rate);
        im += h * x[from + i] * std::sin(2 * kPi * hz * static_cast<double>(i) / rate);
        w += h;
    }
    return 2 * std::sqrt(re * re + im * im) / w;
}

std::vector<std::int16_t> Sine(double hz, double rate, std::size_t n, double amplitude) {
    std::vector<std::int16_t> x(n);
    for (std::size_t i = 0; i < n; ++i)
        x[i] = static_cast<std::int16_t>(
            std::lround(amplitude * std::sin(2 * kPi * hz * static_cast<double>(i) / rate)));
    return x;
}

std::vector<std::int16_t> Convert(WaveInResampler& r, const std::vector<std::int16_t>& in,
                                  std::size_t chunk) {
    std::vector<std::int16_t> out, piece(r.outputFor(chunk));
    for (std::size_t at = 0; at < in.size(); at += chunk) {
        const std::size_t n = std::min(chunk, in.size() - at);
        const std::size_t made = r.process(in.data() + at, n, piece.data(), piece.size());
        out.insert(out.end(), piece.begin(), piece.begin() + static_cast<std::ptrdiff_t>(made));
    }
    return out;
}

struct Rates {
    std::uint32_t in, out;
};

class ResamplerBand : public ::testing::TestWithParam<Rates> {};

TEST_P(ResamplerBand, PassBandIsFlatAndWhatLiesAboveTheNewNyquistIsGone) {
    const auto [in, out] = GetParam();
    WaveInResampler r;
    ASSERT_TRUE(r.setUp(in, out)) << r.why();
    const double nyquist = out / 2.0;
    const std::size_t n = out; // one second of output, 1 Hz bins
    auto level = [&](double hz) {
        r.reset();
        const auto y = Convert(r, Sine(hz, in, 3 * in, 10000), 256);
        EXPECT_GE(y.size(), 2 * n);
        return Level(y, y.size() - n, n, hz > nyquist ? out - hz : hz, out);
    };
    const double low = level(std::round(0.1 * nyquist));
    EXPECT_NEAR(low, 10000, 10000 * 0.002);
    EXPECT_NEAR(20 * std::log10(level(std::round(0.9 * nyquist)) / low), 0.0, 0.05);
    EXPECT_LT(20 * std::log10(level(std::round(1.3 * nyquist)) / low), -80.0);
    EXPECT_LT(20 * std::log10(level(std::round(1.05 * nyquist)) / low), -70.0)
        << "nothing folds back into the top of the band either";
}

INSTANTIATE_TEST_SUITE_P(SoundCardRates, ResamplerBand,
                         ::testing::Values(Rates{44100, 1024}, Rates{44100, 2048},
                                           Rates{48000, 8192}, Rates{44100, 32768}));

TEST(Resampler, OutputFollowsTheInputSampleBySampleAfterAFixedDelay) {
    WaveInResampler r;
    ASSERT_TRUE(r.setUp(44100, 2048));
    EXPECT_NEAR(r.delaySeconds(), 0.0245, 0.001) << "half the filter";
    // One input sample at a time: an output appears at least every ceil(44100 / 2048) inputs.
    std::int16_t out[4];
    const std::int16_t one = 1000;
    std::size_t made = 0, sinceLast = 0, longestGap = 0, firstAfter = 0;
    for (int i = 0; i < 44100; ++i) {
        const std::size_t k = r.process(&one, 1, out, 4);
        EXPECT_LE(k, 1u);
        if (k && made == 0) firstAfter = static_cast<std::size_t>(i);
        if (k && made > 0) longestGap = std::max(longestGap, sinceLast);
        sinceLast = k ? 0 : sinceLast + 1;
        made += k;
        if (k && i > 3000) {
            EXPECT_EQ(out[0], 1000) << "a constant passes unchanged";
        }
    }
    EXPECT_NEAR(static_cast<double>(firstAfter) / 44100, r.delaySeconds(), 1.0 / 44100);
    EXPECT_LE(longestGap, 22u);
    // Everything but the delay has come out.
    EXPECT_NEAR(static_cast<double>(made), 2048.0 * (1.0 - r.delaySeconds()), 2.0);
}

TEST(Resampler, ResetStartsAFreshRecordingAndChunkingDoesNotMatter) {
    WaveInResampler r;
    ASSERT_TRUE(r.setUp(48000, 4096));
    const auto x = Sine(997, 48000, 20000, 12000);
    const auto a = Convert(r, x, 1024);
    r.reset();
    const auto b = Convert(r, x, 37);
    EXPECT_EQ(a, b);
}

// A worker that waits for inputFor(k) samples must get exactly k outputs: one sample fewer
// would leave the last of them (and a capture buffer) unfinished until the next batch.
TEST(Resampler, InputForSaysExactlyHowMuchInputCompletesTheNextOutputs) {
    for (const auto& [in, out] : {std::pair{44100u, 2048u}, {48000u, 8192u}, {44100u, 32768u}}) {
        WaveInResampler r;
        ASSERT_TRUE(r.setUp(in, out));
        const auto x = Sine(440, in, 3 * in, 10000);
        std::vector<std::int16_t> y(r.outputFor(x.size()));
        std::size_t at = 0;
        for (const std::size_t want : {std::size_t{1}, std::size_t{out}, std::size_t{7},
                                       std::size_t{out / 3}, std::size_t{1}}) {
            const std::size_t need = r.inputFor(want);
            ASSERT_GT(need, 0u);
            ASSERT_LE(at + need, x.size());
            EXPECT_EQ(r.process(&x[at], need - 1, y.data(), y.size()), want - 1)
                << in << " -> " << out << ", " << want << " outputs";
            EXPECT_EQ(r.inputFor(1), 1u);
            EXPECT_EQ(r.process(&x[at + need - 1], 1, y.data(), y.size()), 1u);
            at += need;
        }
        EXPECT_EQ(r.inputFor(0), 0u);
    }
}

// The vector sums take several outputs at once on processors that have the units for them; the
// samples must be the portable sums' to the bit, whatever the chunks (one input sample completes
// at most one output, a large chunk completes many batches and a short one).
TEST(Resampler, VectorSumsGiveThePortableSumsBitsInAnyChunks) {
    std::mt19937 random(11);
    std::uniform_int_distribution<int> sample(-32768, 32767);
    for (const auto& [in, out] :
         {std::pair{44100u, 2048u}, {48000u, 1024u}, {44100u, 32768u}, {22050u, 32768u}}) {
        std::vector<std::int16_t> x(in / 2);
        for (auto& v : x) v = static_cast<std::int16_t>(sample(random));
        for (std::size_t i = 0; i < 300; ++i) x[1000 + i] = i % 2 ? 32767 : -32768; // clipping
        for (const std::size_t chunk : {std::size_t{1}, std::size_t{37}, std::size_t{1024}}) {
            WaveInResampler vector, portable;
            ASSERT_TRUE(vector.setUp(in, out));
            ASSERT_TRUE(portable.setUp(in, out));
            portable.usePortableArithmetic(true);
            const auto a = Convert(vector, x, chunk);
            const auto b = Convert(portable, x, chunk);
            ASSERT_GT(a.size(), 100u);
            EXPECT_EQ(a, b) << in << " -> " << out << " in chunks of " << chunk;
        }
    }
}

TEST(Resampler, RatesItCannotServeAreRefusedWithAReason) {
    WaveInResampler r;
    EXPECT_FALSE(r.setUp(0, 2048));
    EXPECT_FALSE(r.why().empty());
    EXPECT_FALSE(r.setUp(192001, 1024)) << "coprime: an exact phase table would be huge";
    EXPECT_FALSE(r.why().empty());
}

} // namespace
