// SPDX-License-Identifier: GPL-3.0-or-later
// Scroll-bar mappings, bin-range arithmetic and the hue/lightness colour map of the analyser,
// as pure functions the window's handlers call.
#pragma once

#include "platform/system/colour.h"
#include "platform/system/rounding.h"

#include <cstdint>
#include <span>
#include <string>

namespace analyser {

// ---- colour map --------------------------------------------------------------------------

// One RGB component (0..255) of the colour map for a hue (wrapped once into 0..255).
int32_t HueToComponent(int32_t hue, double M2, double M1);

// Colour of a level (lightness, clamped to 0..255; NaN counts as 0) at a hue of 0..212,
// packed as red + 256*green + 65536*blue.
int32_t LevelToColour(double level, int32_t hue);

// The lightness the colour map takes from a level: clamped to 0..255, NaN as 0.
inline double Lightness(double level) {
    if (level > 255) return 255;
    if (level >= 0) return level;
    return 0; // negative or NaN
}

// LevelToColour at one hue, with the hue's share of the work (which part of its ramp each
// component is on) done once, for the hundreds of levels of a waterfall row. Every colour is
// LevelToColour's.
class HueColourMap {
public:
    explicit HueColourMap(int32_t hue);

    int32_t operator()(double level) const {
        const double L = Lightness(level);
        const double S = 255 - L;
        if (S == 0) return platform::PackColour(255, 255, 255);
        const double M2 = L <= 127.5 ? L * (S + 255) / 255 : S + L - S * L / 255;
        const double M1 = 2 * L - M2;
        return platform::PackColour(red_(M2, M1), green_(M2, M1), blue_(M2, M1));
    }

    // out[i] = (*this)(levels[i]) for as many levels as both hold.
    void Row(std::span<const double> levels, std::span<int32_t> out) const;

private:
    // One component: on a ramp between M1 and M2 at `along` of its six steps, or flat at M2 or M1.
    struct Component {
        enum Part : uint8_t { Ramp, High, Low } part = Low;
        double along = 0;
        explicit Component(int32_t hue);
        int32_t operator()(double M2, double M1) const {
            switch (part) {
            case Ramp:
                return platform::rnd(M1 + (M2 - M1) * 6 * along / 255);
            case High:
                return platform::rnd(M2);
            default:
                return platform::rnd(M1);
            }
        }
    };
    Component red_, green_, blue_;
};

// The packed colour and its conversions have one home, below every layer.
using platform::ColourToArgb;
using platform::PackColour;
using platform::Rgb;
using platform::SplitColour;

// ---- simple mappings of the scroll bars ----------------------------------------------------

inline double GainFor(int32_t value) {
    return value;
}
inline double BrightFor(int32_t value) {
    return value;
}
double ShiftFor(int32_t value);        // value / 110
double ContrastFor(int32_t value);     // 1.5^value
double HumDivisorFor(double contrast); // contrast / 3 + 0.667
int32_t SleepMsFor(int32_t speed);     // rnd(speed^1.2), 0 for speed <= 0
int32_t SampleRateFor(int32_t index);  // rnd(2^(index + 10)): 1024 .. 32768 for 0..5
int32_t ResolutionFor(int32_t value);  // rnd(2^value): 1 .. 32 for 0..5
// Top (Min) of the resolution bar for a sample-rate index, so that R * rate <= 32768.
inline int32_t ResolutionTopFor(int32_t index) {
    return 5 - index;
}

// ---- bins ----------------------------------------------------------------------------------

// What a change of transform length does to the range bar. When rangeEnabled is false the
// whole half spectrum fits: bins 0..highestBin are drawn and the bar keeps its old Max and
// value (leave them alone). When true, set the bar's Max to rangeMax, lower its value to
// rangeMax if it lies above, and enable it.
struct BinPlan {
    int32_t fftSize = 0;
    int32_t highestBin = 0; // rnd(fftSize / 2 - 1)
    bool rangeEnabled = false;
    int32_t rangeMax = 0; // highestBin - waterWidth - 1; meaningful only when rangeEnabled
};

BinPlan PlanBins(int32_t resolution, int32_t sampleRate, int32_t waterWidth);

// The drawn bins and their frequencies for the range bar's value. The value is clamped here
// into 0..plan.rangeMax, so a caller that forgot to lower it can never run past the last bin;
// it is ignored while the range is disabled. An enabled range spans waterWidth + 1 bins.
struct BinRange {
    int32_t first = 0;
    int32_t last = 0;
    double low = 0;  // floor(first / R) + 1
    double high = 0; // floor(last / R) + 1, or waterWidth + 1 while disabled
};

BinRange RangeFor(const BinPlan& plan, int32_t rangeValue, int32_t resolution, int32_t waterWidth);

// ---- captions ------------------------------------------------------------------------------

std::string FftCaption(int32_t fftSize);           // "FFT: 2048 Bins"
std::string RangeCaption(double low, double high); // "1 - 781"
std::string ResolutionCaption(int32_t resolution); // "x 4"
std::string BufferingCaption(int32_t count);       // "Buffering - Please wait 2 Secs"

} // namespace analyser
