// SPDX-License-Identifier: GPL-3.0-or-later
// The engine's numbers against two yardsticks: the defining sum X(k) = sum x(n) e^(+2 pi i nk/N),
// and a literal, per-group-recurrence radix-2 transform written out plainly here.
#include "fft/clsFourier.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <numbers>
#include <random>
#include <vector>

namespace {

// Weighting and butterflies exactly as the engine's design states them, one sample and one
// butterfly at a time, twiddles restarted from (1, 0) in every group.
class LiteralFourier {
public:
    explicit LiteralFourier(int n)
        : n_(n), bits_(std::lround(std::log(n) / std::log(2.0))), data_(n) {}

    void RealIn(int index, double value, bool window) {
        const int n = index - 1;
        const double twoPi = 2 * (4 * std::atan(1.0));
        double v = value / 2;
        if (window) {
            const double theta = n * twoPi / (n_ - 1);
            v = (0.42 - 0.5 * std::cos(theta) + 0.08 * std::cos(2 * theta)) * value;
        }
        Complex& c = data_[Reverse(n)];
        c.Re = v;
        c.Im = 0;
    }
    void ImagIn(int index, double value) { data_[Reverse(index - 1)].Im = value; }

    void Transform() {
        const double pi = 4 * std::atan(1.0);
        const int maxIndex = n_ - 1;
        int span = 1;
        do {
            const int half = span;
            span = 2 * half;
            const double angle = pi / span;
            const Complex step{2 * std::sin(angle) * std::sin(angle), std::sin(2 * angle)};
            for (int group = 0; group <= maxIndex; group += span) {
                Complex w{1, 0};
                for (int k = group; k <= group + half - 1; ++k)
                    Butterfly(step, w, data_[k], data_[k + half]);
            }
        } while (span <= maxIndex);
    }

    const Complex& operator[](int k) const { return data_[k]; }
    void Clear() { data_.assign(n_, Complex{0, 0}); }

private:
    int Reverse(int value) const {
        int r = 0;
        for (int i = 0; i < bits_; ++i) {
            r = 2 * r + (value & 1);
            value /= 2;
        }
        return r;
    }
    static void Butterfly(const Complex& s, Complex& w, Complex& a, Complex& b) {
        Complex t;
        t.Re = w.Re * b.Re - b.Im * w.Im;
        t.Im = b.Im * w.Re + w.Im * b.Re;
        b.Re = a.Re - t.Re;
        a.Re = a.Re + t.Re;
        b.Im = a.Im - t.Im;
        a.Im = a.Im + t.Im;
        const double u = s.Re * w.Re + w.Im * s.Im;
        w.Im = w.Re * s.Im + w.Im - s.Re * w.Im;
        w.Re = w.Re - u;
    }

    int n_;
    int bits_;
    std::vector<Complex> data_;
};

struct Frame {
    std::vector<double> re, im;
};

Frame RandomFrame(int n, std::uint32_t seed, bool complexInput) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> d(-1.0, 1.0);
    Frame f{std::vector<double>(n), std::vector<double>(n, 0.0)};
    for (int i = 0; i < n; ++i) {
        f.re[i] = d(rng);
        if (complexInput) f.im[i] = d(rng);
    }
    return f;
}

TEST(FourierAccuracy, MatchesTheDirectSumUpTo4096) {
    for (int n = 2; n <= 4096; n *= 2) {
        for (bool window : {false, true}) {
            const Frame in = RandomFrame(n, 17u * n + window, true);
            clsFourier f;
            f.WithTimeWindow(window ? -1 : 0);
            f.NumberOfSamples(n);
            std::vector<std::complex<double>> x(n);
            for (int i = 0; i < n; ++i) {
                f.RealIn(i + 1, in.re[i]);
                f.ImagIn(i + 1, in.im[i]);
                const double t = 2 * std::numbers::pi * i / (n - 1);
                const double weight =
                    window ? 0.42 - 0.5 * std::cos(t) + 0.08 * std::cos(2 * t) : 0.5;
                x[i] = {weight * in.re[i], in.im[i]};
            }
            std::vector<std::complex<double>> roots(n);
            for (int m = 0; m < n; ++m) roots[m] = std::polar(1.0, 2 * std::numbers::pi * m / n);

            double worst = 0, largest = 0;
            for (int k = 0; k < n; ++k) {
                std::complex<double> sum;
                for (int j = 0; j < n; ++j)
                    sum += x[j] * roots[static_cast<std::size_t>(j) * k % n];
                const std::complex<double> got(f.RealOut(k + 1), f.ImagOut(k + 1));
                worst = std::max(worst, std::abs(got - sum));
                largest = std::max(largest, std::abs(sum));
                ASSERT_NEAR(f.ComplexOut(k + 1), std::abs(got), 1e-12 * (1 + std::abs(got)));
            }
            EXPECT_LT(worst / largest, 1e-9) << "N = " << n << " window " << window;
        }
    }
}

TEST(FourierAccuracy, AgreesWithTheLiteralRecurrenceUpTo32768) {
    for (int n = 2; n <= 32768; n *= 2) {
        for (bool window : {false, true}) {
            const Frame in = RandomFrame(n, 31u * n + window, n <= 1024);
            clsFourier f;
            LiteralFourier ref(n);
            f.WithTimeWindow(window ? -1 : 0);
            f.NumberOfSamples(n);
            for (int i = 1; i <= n; ++i) {
                f.RealIn(i, in.re[i - 1]);
                ref.RealIn(i, in.re[i - 1], window);
                if (in.im[i - 1] != 0) {
                    f.ImagIn(i, in.im[i - 1]);
                    ref.ImagIn(i, in.im[i - 1]);
                }
            }
            ref.Transform();
            double worst = 0, largest = 0;
            for (int k = 0; k < n; ++k) {
                largest = std::max(largest, std::hypot(ref[k].Re, ref[k].Im));
                worst = std::max(
                    worst, std::hypot(f.RealOut(k + 1) - ref[k].Re, f.ImagOut(k + 1) - ref[k].Im));
            }
            EXPECT_LE(worst, 1e-13 * largest) << "N = " << n << " window " << window;
        }
    }
}

// The analyser's frame exactly: N windowed (or halved) real inputs in order, then magnitudes.
// Every bin must carry the very bits of the literal recurrence, whichever path the engine
// takes (per-sample or bulk feed, any kernel, any order and range of reads).
TEST(FourierAccuracy, AnalyserFramesAreBitIdenticalToTheLiteralRecurrence) {
    for (int n = 2; n <= 32768; n *= 2) {
        for (bool window : {false, true}) {
            const Frame in = RandomFrame(n, 7u * n + window, false);
            LiteralFourier ref(n);
            for (int i = 1; i <= n; ++i) ref.RealIn(i, in.re[i - 1], window);
            ref.Transform();
            const int shown = std::min(n, 781);
            for (int feed = 0; feed < 2; ++feed) {
                clsFourier f;
                f.WithTimeWindow(window ? -1 : 0);
                f.NumberOfSamples(n);
                // Two frames: the second sees whatever the engine learnt from the first.
                for (int frame = 0; frame < 2; ++frame) {
                    if (feed == 0) {
                        for (int i = 1; i <= n; ++i) f.RealIn(i, in.re[i - 1]);
                    } else {
                        f.RealInFrame(in.re);
                    }
                    for (int k = 0; k < shown; ++k) {
                        const double expected =
                            std::sqrt(ref[k].Re * ref[k].Re + ref[k].Im * ref[k].Im);
                        ASSERT_EQ(f.ComplexOut(k + 1), expected)
                            << "N = " << n << " window " << window << " feed " << feed << " bin "
                            << k;
                    }
                    // Reads beyond the shown bins and of the parts come after the magnitudes.
                    for (int k = n - 1; k >= 0; k -= std::max(1, n / 64)) {
                        ASSERT_EQ(f.RealOut(k + 1), ref[k].Re) << "N = " << n << " bin " << k;
                        ASSERT_EQ(f.ImagOut(k + 1), ref[k].Im) << "N = " << n << " bin " << k;
                        ASSERT_EQ(f.ComplexOut(k + 1),
                                  std::sqrt(ref[k].Re * ref[k].Re + ref[k].Im * ref[k].Im));
                    }
                }
            }
        }
    }
}

// Mixed traffic: runs of ascending real input broken off at random, repeated and out-of-order
// positions, imaginary input, window switches, partial rewrites, reads in between and resets.
// Whatever path the engine takes to store an input, the block must match the literal one.
TEST(FourierAccuracy, InterleavedCallsMatchTheLiteralTransform) {
    std::mt19937 rng(2024);
    std::uniform_real_distribution<double> value(-1.0, 1.0);
    for (int n : {2, 4, 8, 32, 256}) {
        clsFourier f;
        LiteralFourier ref(n);
        f.NumberOfSamples(n);
        bool window = false, pending = true;
        int next = 1; // position an ascending run would write next
        for (int step = 0; step < 4000; ++step) {
            const int what = std::uniform_int_distribution<int>(0, 99)(rng);
            const int any = std::uniform_int_distribution<int>(1, n)(rng);
            const double v = value(rng);
            if (what < 55) { // continue (or restart) an ascending run
                f.RealIn(next, v);
                ref.RealIn(next, v, window);
                next = next == n ? 1 : next + 1;
                pending = true;
            } else if (what < 70) {
                f.RealIn(any, v);
                ref.RealIn(any, v, window);
                pending = true;
            } else if (what < 78) {
                f.ImagIn(any, v);
                ref.ImagIn(any, v);
                pending = true;
            } else if (what < 84) {
                window = !window;
                f.WithTimeWindow(window ? -1 : 0);
            } else if (what < 86) {
                f.NumberOfSamples(n);
                ref.Clear();
                next = 1;
                pending = true;
            } else if (what < 90) {
                next = 1;
            } else {
                if (pending) ref.Transform();
                pending = false;
                const int k = any - 1;
                const double scale = 1 + std::hypot(ref[k].Re, ref[k].Im);
                ASSERT_NEAR(f.RealOut(any), ref[k].Re, 1e-12 * scale) << n << " step " << step;
                ASSERT_NEAR(f.ImagOut(any), ref[k].Im, 1e-12 * scale) << n << " step " << step;
            }
        }
    }
}

} // namespace
