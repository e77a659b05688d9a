// SPDX-License-Identifier: GPL-3.0-or-later
#include "analyser/scaling.h"

#include "platform/system/rounding.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

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

void HueColourMap::Row(std::span<const double> levels, std::span<int32_t> out) const {
    const std::size_t n = std::min(levels.size(), out.size());
    for (std::size_t i = 0; i < n; ++i) out[i] = (*this)(levels[i]);
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
