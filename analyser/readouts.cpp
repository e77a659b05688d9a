// SPDX-License-Identifier: GPL-3.0-or-later
#include "analyser/readouts.h"

#include "platform/system/rounding.h"

#include <cmath>
#include <cstdio>

namespace analyser {

using platform::rnd;

double ReadoutFrequency(double low, double high, double x, int32_t waterLast) {
    const double difference = high - low;
    const double scaled = difference * x;
    return scaled / waterLast + low;
}

std::string ReadoutText(double f) {
    if (!std::isfinite(f)) return {};
    // + 0.0 turns a rounded -0 into 0, so -0.3 reads "0" and not "-0".
    const double whole = std::nearbyint(f) + 0.0;
    char text[400];
    std::snprintf(text, sizeof text, "%.0f", whole);
    return text;
}

int32_t LabelLeft(double xPixels, int32_t spectrumLeft, int32_t labelWidth) {
    return rnd(xPixels + spectrumLeft - labelWidth / 2.0);
}

} // namespace analyser
