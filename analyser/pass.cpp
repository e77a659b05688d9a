// SPDX-License-Identifier: GPL-3.0-or-later
#include "analyser/pass.h"

#include "platform/system/rounding.h"

namespace analyser {

using platform::rnd;

SpectrumFrame SpectrumFrameFor(double previousPeak, double shift) {
    return {static_cast<float>(previousPeak * 1.05),
            static_cast<float>(previousPeak * 1.025 - shift * previousPeak)};
}

bool AboveThreshold(int32_t threshold, double level, double contrast, double bright) {
    return threshold < rnd(level) * contrast + bright;
}

bool TickDueAfter(int32_t passCount, bool tickDue, char lastCharacter) {
    return passCount > 49 && (tickDue || lastCharacter == '9');
}

int32_t AdvancedStartIndex(int32_t startIndex, int64_t countStart, int64_t countEnd,
                           int64_t countFreq, double timeScale) {
    if (countFreq <= 0) return startIndex;
    const double elapsed =
        static_cast<double>(countEnd - countStart) / static_cast<double>(countFreq);
    return rnd(startIndex + elapsed * timeScale);
}

} // namespace analyser
