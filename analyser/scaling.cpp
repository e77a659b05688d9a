// SPDX-License-Identifier: GPL-3.0-or-later
#include "analyser/scaling.h"

#include "platform/system/cpu_features.h"
#include "platform/system/rounding.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define TONVAULT_SCALING_X86 1
#endif

namespace analyser {

using platform::rnd;

namespace {
// Thresholds 255/6, 255/2 and 510/3 after rounding: 42 (not 42.5) and 128 (not 127.5).
constexpr int32_t kRise = 42;
constexpr int32_t kFall = 128;
constexpr int32_t kLow = 170;

int32_t WrappedHue(int32_t hue) {
    if (hue < 0) return hue + 255;
    if (hue > 255) return hue - 255;
    return hue;
}
} // namespace

int32_t HueToComponent(int32_t hue, double M2, double M1) {
    hue = WrappedHue(hue);
    double x;
    if (hue < kRise) {
        x = M1 + (M2 - M1) * 6 * hue / 255;
    } else if (hue < kFall) {
        x = M2;
    } else if (hue < kLow) {
        x = M1 + (M2 - M1) * 6 * (kLow - hue) / 255;
    } else {
        x = M1;
    }
    return rnd(x);
}

int32_t LevelToColour(double level, int32_t hue) {
    const double L = Lightness(level);
    const double S = 255 - L;
    if (S == 0) return PackColour(255, 255, 255);
    const double M2 = L <= 127.5 ? L * (S + 255) / 255 : S + L - S * L / 255;
    const double M1 = 2 * L - M2;
    const int32_t red = HueToComponent(rnd(static_cast<double>(hue) + 85), M2, M1);
    const int32_t green = HueToComponent(hue, M2, M1);
    const int32_t blue = HueToComponent(rnd(static_cast<double>(hue) - 85), M2, M1);
    return PackColour(red, green, blue);
}

HueColourMap::Component::Component(int32_t hue) {
    hue = WrappedHue(hue);
    if (hue < kRise) {
        part = Ramp;
        along = hue;
    } else if (hue < kFall) {
        part = High;
    } else if (hue < kLow) {
        part = Ramp;
        along = kLow - hue;
    } else {
        part = Low;
    }
}

// The row at a time: every level through the very operations of operator(), in the same order
// (this file is built without fused multiply-add) and with the same rounding of the components,
// so the colours are the same to the bit.
struct HueColourRows {
    static void Portable(const HueColourMap& map, std::span<const double> levels, int32_t* out) {
        for (std::size_t i = 0; i < levels.size(); ++i) out[i] = map(levels[i]);
    }

#ifdef TONVAULT_SCALING_X86
    [[gnu::target("avx2"), gnu::always_inline]] static inline __m256d
    Component(const HueColourMap::Component& c, __m256d M2, __m256d M1) {
        using Part = HueColourMap::Component::Part;
        if (c.part == Part::High) return M2;
        if (c.part == Part::Low) return M1;
        const __m256d ramp = _mm256_mul_pd(_mm256_sub_pd(M2, M1), _mm256_set1_pd(6));
        return _mm256_add_pd(
            M1, _mm256_div_pd(_mm256_mul_pd(ramp, _mm256_set1_pd(c.along)), _mm256_set1_pd(255)));
    }

    [[gnu::target("avx2")]] static void Avx2(const HueColourMap& map,
                                             std::span<const double> levels, int32_t* out) {
        const __m256d zero = _mm256_setzero_pd(), top = _mm256_set1_pd(255);
        const __m256d half = _mm256_set1_pd(127.5), two = _mm256_set1_pd(2);
        const __m256i white = _mm256_set1_epi64x(PackColour(255, 255, 255));
        std::size_t i = 0;
        for (; i + 4 <= levels.size(); i += 4) {
            const __m256d level = _mm256_loadu_pd(&levels[i]);
            // Above 255: 255; from 0 up: itself; below 0 or NaN: 0 (ordered compares).
            __m256d L = _mm256_and_pd(level, _mm256_cmp_pd(level, zero, _CMP_GE_OQ));
            L = _mm256_blendv_pd(L, top, _mm256_cmp_pd(level, top, _CMP_GT_OQ));
            const __m256d S = _mm256_sub_pd(top, L);
            const __m256d low = _mm256_div_pd(_mm256_mul_pd(L, _mm256_add_pd(S, top)), top);
            const __m256d high =
                _mm256_sub_pd(_mm256_add_pd(S, L), _mm256_div_pd(_mm256_mul_pd(S, L), top));
            const __m256d M2 = _mm256_blendv_pd(high, low, _mm256_cmp_pd(L, half, _CMP_LE_OQ));
            const __m256d M1 = _mm256_sub_pd(_mm256_mul_pd(two, L), M2);
            // The components are within 0..255: the conversion rounds them as rnd does.
            const __m256i red =
                _mm256_cvtepi32_epi64(_mm256_cvtpd_epi32(Component(map.red_, M2, M1)));
            const __m256i green =
                _mm256_cvtepi32_epi64(_mm256_cvtpd_epi32(Component(map.green_, M2, M1)));
            const __m256i blue =
                _mm256_cvtepi32_epi64(_mm256_cvtpd_epi32(Component(map.blue_, M2, M1)));
            const __m256i packed = _mm256_add_epi64(
                red, _mm256_add_epi64(_mm256_slli_epi64(green, 8), _mm256_slli_epi64(blue, 16)));
            const __m256i colours = _mm256_castpd_si256(
                _mm256_blendv_pd(_mm256_castsi256_pd(packed), _mm256_castsi256_pd(white),
                                 _mm256_cmp_pd(S, zero, _CMP_EQ_OQ)));
            // The low halves of the four 64-bit lanes, in order.
            const __m256i order = _mm256_setr_epi32(0, 2, 4, 6, 0, 2, 4, 6);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i),
                             _mm256_castsi256_si128(_mm256_permutevar8x32_epi32(colours, order)));
        }
        Portable(map, levels.subspan(i), out + i);
    }
#endif
};

void HueColourMap::Row(std::span<const double> levels, std::span<int32_t> out) const {
    const std::size_t n = std::min(levels.size(), out.size());
#ifdef TONVAULT_SCALING_X86
    static const bool avx2 = platform::CpuHasAvx2();
    if (avx2) {
        HueColourRows::Avx2(*this, levels.first(n), out.data());
        return;
    }
#endif
    HueColourRows::Portable(*this, levels.first(n), out.data());
}

HueColourMap::HueColourMap(int32_t hue)
    : red_(rnd(static_cast<double>(hue) + 85)), green_(hue),
      blue_(rnd(static_cast<double>(hue) - 85)) {}

double ShiftFor(int32_t value) {
    return value / 110.0;
}

double ContrastFor(int32_t value) {
    return std::pow(1.5, value);
}

double HumDivisorFor(double contrast) {
    return contrast / 3 + 0.667;
}

int32_t SleepMsFor(int32_t speed) {
    // pow of a negative base with a fractional exponent is NaN; the bar never goes below 0.
    if (speed <= 0) return 0;
    return rnd(std::pow(static_cast<double>(speed), 1.2));
}

int32_t SampleRateFor(int32_t index) {
    return rnd(std::pow(2.0, index + 10.0));
}

int32_t ResolutionFor(int32_t value) {
    return rnd(std::pow(2.0, value));
}

BinPlan PlanBins(int32_t resolution, int32_t sampleRate, int32_t waterWidth) {
    BinPlan plan;
    plan.fftSize = resolution * sampleRate;
    plan.highestBin = rnd(plan.fftSize / 2.0 - 1);
    plan.rangeEnabled = plan.highestBin >= waterWidth;
    plan.rangeMax = plan.rangeEnabled ? plan.highestBin - waterWidth - 1 : 0;
    return plan;
}

BinRange RangeFor(const BinPlan& plan, int32_t rangeValue, int32_t resolution, int32_t waterWidth) {
    const double r = std::max(resolution, 1);
    BinRange range;
    if (plan.rangeEnabled) {
        range.first = std::clamp(rangeValue, 0, std::max(plan.rangeMax, 0));
        range.last = range.first + waterWidth;
        range.high = std::floor(range.last / r) + 1;
    } else {
        range.first = 0;
        range.last = plan.highestBin;
        range.high = static_cast<double>(waterWidth) + 1;
    }
    range.low = std::floor(range.first / r) + 1;
    return range;
}

std::string FftCaption(int32_t fftSize) {
    return "FFT: " + std::to_string(fftSize) + " Bins";
}

std::string RangeCaption(double low, double high) {
    // Both ends are whole numbers; "%.0f" writes them without a decimal point at any size.
    char text[96];
    std::snprintf(text, sizeof text, "%.0f - %.0f", low + 0.0, high + 0.0);
    return text;
}

std::string ResolutionCaption(int32_t resolution) {
    return "x " + std::to_string(resolution);
}

std::string BufferingCaption(int32_t count) {
    return "Buffering - Please wait " + std::to_string(count) + " Secs";
}

} // namespace analyser
