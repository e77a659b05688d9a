// SPDX-License-Identifier: GPL-3.0-or-later
// The engine's arithmetic pieces on their own: bit reversal, the window weight, the twiddle
// recurrence, the wide butterflies against the portable ones, the alignment hint.
#include "fft/fourier_kernels.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <numbers>
#include <random>
#include <vector>

namespace {

// Arbitrary twiddles and data for one transform of n points. Only the span-2 twiddle keeps its
// engine value (1, 0), whose product the wide paths skip.
struct Pass {
    std::vector<Complex> twiddles, data;
};
Pass RandomPass(std::mt19937& rng, std::size_t n) {
    std::uniform_real_distribution<double> d(-1.0, 1.0);
    Pass p{std::vector<Complex>(n), std::vector<Complex>(n)};
    for (auto& w : p.twiddles) w = {d(rng), d(rng)};
    p.twiddles[1] = {1, 0};
    for (auto& x : p.data) x = {d(rng) * 1e3, d(rng)};
    return p;
}

TEST(FourierKernels, ReverseBitsMirrorsTheLowBitsOnly) {
    const std::uint32_t eight[] = {0, 4, 2, 6, 1, 5, 3, 7};
    for (std::uint32_t n = 0; n < 8; ++n) EXPECT_EQ(fourier::ReverseBits(n, 3), eight[n]);
    EXPECT_EQ(fourier::ReverseBits(1, 15), 16384u);
    EXPECT_EQ(fourier::ReverseBits(0b100000000000110, 15), 0b011000000000001u);
    EXPECT_EQ(fourier::ReverseBits(0xFFu, 4), 0xFu); // bits above count are ignored
    EXPECT_EQ(fourier::ReverseBits(5, 0), 0u);
    EXPECT_EQ(fourier::ReverseBits(5, -3), 0u);
    for (std::uint32_t n = 0; n < 4096; ++n)
        EXPECT_EQ(fourier::ReverseBits(fourier::ReverseBits(n, 12), 12), n);
}

TEST(FourierKernels, BlackmanWeightIsSymmetricAndPeaksAtOne) {
    const double twoPi = 2 * std::numbers::pi;
    EXPECT_NEAR(fourier::BlackmanWeight(0, 1023, twoPi), 0.0, 1e-16);
    EXPECT_NEAR(fourier::BlackmanWeight(1023, 1023, twoPi), 0.0, 1e-15);
    EXPECT_NEAR(fourier::BlackmanWeight(2, 4, twoPi), 1.0, 1e-15);
    for (int n = 0; n < 1024; ++n)
        EXPECT_NEAR(fourier::BlackmanWeight(n, 1023, twoPi),
                    fourier::BlackmanWeight(1023 - n, 1023, twoPi), 1e-14);
    EXPECT_NEAR(fourier::BlackmanWeight(1, 3, twoPi), 0.42 + 0.25 - 0.04, 1e-15);
}

TEST(FourierKernels, TwiddleRecurrenceWalksTheUnitCircle) {
    const int span = 4096;
    const double angle = std::numbers::pi / span;
    const Complex step{2 * std::sin(angle) * std::sin(angle), std::sin(2 * angle)};
    Complex w{1, 0};
    for (int m = 1; m < span / 2; ++m) {
        fourier::AdvanceTwiddle(step, w);
        const double phi = 2 * std::numbers::pi * m / span;
        ASSERT_NEAR(w.Re, std::cos(phi), 1e-12) << m;
        ASSERT_NEAR(w.Im, std::sin(phi), 1e-12) << m;
    }
}

TEST(FourierKernels, ButterflyAddsAndSubtractsTheTwiddledLowerValue) {
    Complex a{1, 2}, b{3, -1};
    const Complex w{0, 1}; // times i: (3, -1) -> (1, 3)
    fourier::Butterfly(w, a, b);
    EXPECT_EQ(a.Re, 2);
    EXPECT_EQ(a.Im, 5);
    EXPECT_EQ(b.Re, 0);
    EXPECT_EQ(b.Im, -1);
}

// Arbitrary twiddles and data: the wide path must round exactly as the portable one.
TEST(FourierKernels, WidePassesMatchPortableBitForBit) {
    if (!fourier::CpuHasAvx2()) GTEST_SKIP() << "processor without AVX2";
    std::mt19937 rng(7);
    for (int bits = 1; bits <= 15; ++bits) {
        const std::size_t n = std::size_t{1} << bits;
        auto [twiddles, wide] = RandomPass(rng, n);
        std::vector<Complex> portable = wide;
        fourier::TransformPortable(portable.data(), bits, twiddles.data());
        fourier::TransformAvx2(wide.data(), bits, twiddles.data());
        for (std::size_t k = 0; k < n; ++k) {
            ASSERT_EQ(wide[k].Re, portable[k].Re) << bits << " " << k;
            ASSERT_EQ(wide[k].Im, portable[k].Im) << bits << " " << k;
        }
    }
}

// The AVX-512 passes against the portable ones, on arbitrary data and twiddles, both for a
// block already in the engine and for a staged real block loaded on the way in.
TEST(FourierKernels, Avx512PassesMatchPortableBitForBit) {
    if (!fourier::CpuHasAvx512()) GTEST_SKIP() << "processor without AVX-512";
    std::mt19937 rng(5);
    std::uniform_real_distribution<double> d(-1.0, 1.0);
    for (int bits = 1; bits <= 15; ++bits) {
        const std::size_t n = std::size_t{1} << bits;
        auto [twiddles, wide] = RandomPass(rng, n);
        std::vector<Complex> portable = wide;
        fourier::TransformPortable(portable.data(), bits, twiddles.data());
        fourier::TransformAvx512(wide.data(), bits, twiddles.data());
        std::vector<double> staged(n);
        for (auto& x : staged) x = d(rng);
        std::vector<Complex> realPortable(n), realWide(n, Complex{9, 9});
        fourier::TransformRealPortable(staged.data(), realPortable.data(), bits, twiddles.data());
        fourier::TransformRealAvx512(staged.data(), realWide.data(), bits, twiddles.data());
        for (std::size_t k = 0; k < n; ++k) {
            ASSERT_EQ(wide[k].Re, portable[k].Re) << bits << " " << k;
            ASSERT_EQ(wide[k].Im, portable[k].Im) << bits << " " << k;
            ASSERT_EQ(realWide[k].Re, realPortable[k].Re) << bits << " " << k;
            ASSERT_EQ(realWide[k].Im, realPortable[k].Im) << bits << " " << k;
        }
    }
}

// Magnitudes and frame weighting in every width, for every count (the vector loops leave tails),
// with values spread over many magnitudes and the signed zeros and subnormals of real frames.
TEST(FourierKernels, WideMagnitudesAndWeightsMatchPortableBitForBit) {
    std::mt19937 rng(9);
    std::uniform_real_distribution<double> d(-1.0, 1.0);
    std::uniform_int_distribution<int> e(-1030, 300);
    const std::size_t n = 77;
    std::vector<Complex> data(n);
    std::vector<double> x(n), w(n);
    for (std::size_t i = 0; i < n; ++i) {
        data[i] = {std::ldexp(d(rng), e(rng)), std::ldexp(d(rng), e(rng))};
        x[i] = std::ldexp(d(rng), e(rng));
        w[i] = d(rng);
    }
    data[3] = {-0.0, 0.0};
    x[5] = -0.0;
    x[6] = 4.9e-324;
    const bool avx2 = fourier::CpuHasAvx2(), avx512 = fourier::CpuHasAvx512();
    for (std::size_t count = 0; count <= n; ++count) {
        std::vector<double> expected(n), got(n); // never empty: memcmp takes no null
        fourier::MagnitudesPortable(data.data(), expected.data(), count);
        for (std::size_t i = 0; i < count; ++i)
            ASSERT_EQ(expected[i], std::sqrt(data[i].Re * data[i].Re + data[i].Im * data[i].Im));
        if (avx2) {
            fourier::MagnitudesAvx2(data.data(), got.data(), count);
            EXPECT_EQ(std::memcmp(got.data(), expected.data(), count * sizeof(double)), 0) << count;
        }
        if (avx512) {
            fourier::MagnitudesAvx512(data.data(), got.data(), count);
            EXPECT_EQ(std::memcmp(got.data(), expected.data(), count * sizeof(double)), 0) << count;
        }
        for (const double* weights : std::initializer_list<const double*>{w.data(), nullptr}) {
            fourier::WeighPortable(x.data(), weights, expected.data(), count);
            for (std::size_t i = 0; i < count; ++i) {
                const double scalar = weights ? weights[i] * x[i] : x[i] / 2;
                ASSERT_EQ(std::memcmp(&expected[i], &scalar, sizeof(double)), 0) << i;
            }
            if (avx2) {
                fourier::WeighAvx2(x.data(), weights, got.data(), count);
                EXPECT_EQ(std::memcmp(got.data(), expected.data(), count * sizeof(double)), 0);
            }
            if (avx512) {
                fourier::WeighAvx512(x.data(), weights, got.data(), count);
                EXPECT_EQ(std::memcmp(got.data(), expected.data(), count * sizeof(double)), 0);
            }
        }
    }
}

TEST(FourierKernels, TiledLoadPutsEachValueAtItsReversedElement) {
    for (int bits = 1; bits <= 15; ++bits) {
        const std::size_t n = std::size_t{1} << bits;
        std::vector<double> staged(n);
        for (std::size_t i = 0; i < n; ++i) staged[i] = static_cast<double>(i) + 0.5;
        std::vector<Complex> data(n, Complex{-1, -1});
        fourier::LoadReversed(staged.data(), data.data(), bits);
        for (std::size_t j = 0; j < n; ++j) {
            ASSERT_EQ(data[j].Re, staged[fourier::ReverseBits(j, bits)]) << bits << " " << j;
            ASSERT_EQ(data[j].Im, 0.0);
        }
    }
}

// The load fused into the first passes must give what loading and then transforming gives.
TEST(FourierKernels, RealBlockTransformsMatchLoadThenTransform) {
    std::mt19937 rng(11);
    std::uniform_real_distribution<double> d(-1.0, 1.0);
    for (int bits = 1; bits <= 15; ++bits) {
        const std::size_t n = std::size_t{1} << bits;
        std::vector<Complex> twiddles(n);
        for (auto& w : twiddles) w = {d(rng), d(rng)};
        twiddles[1] = {1, 0};
        std::vector<double> staged(n);
        for (auto& x : staged) x = d(rng);
        std::vector<Complex> expected(n), portable(n, Complex{9, 9}), wide(n, Complex{9, 9});
        fourier::LoadReversed(staged.data(), expected.data(), bits);
        fourier::TransformPortable(expected.data(), bits, twiddles.data());
        fourier::TransformRealPortable(staged.data(), portable.data(), bits, twiddles.data());
        const bool hasWide = fourier::CpuHasAvx2();
        if (hasWide) fourier::TransformRealAvx2(staged.data(), wide.data(), bits, twiddles.data());
        for (std::size_t k = 0; k < n; ++k) {
            ASSERT_EQ(portable[k].Re, expected[k].Re) << bits << " " << k;
            ASSERT_EQ(portable[k].Im, expected[k].Im) << bits << " " << k;
            if (!hasWide) continue;
            ASSERT_EQ(wide[k].Re, expected[k].Re) << bits << " " << k;
            ASSERT_EQ(wide[k].Im, expected[k].Im) << bits << " " << k;
        }
    }
}

TEST(FourierKernels, AlignmentAdviceNamesTheMissingPadding) {
    EXPECT_EQ(fourier::AlignmentAdvice(0x1000), "");
    EXPECT_EQ(fourier::AlignmentAdvice(0x1008), "");
    EXPECT_EQ(fourier::AlignmentAdvice(0x1003),
              "For improved speed insert padding of 5 bytes before Variable Pi");
    EXPECT_EQ(fourier::AlignmentAdvice(0x1004),
              "For improved speed insert padding of 4 bytes before Variable Pi");
    EXPECT_EQ(fourier::AlignmentAdvice(0x1007),
              "For improved speed insert padding of 1 bytes before Variable Pi");
}

} // namespace
