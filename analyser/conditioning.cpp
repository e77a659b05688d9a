// SPDX-License-Identifier: GPL-3.0-or-later
#include "analyser/conditioning.h"

#include "platform/system/rounding.h"

namespace analyser {

using platform::rnd;

double ConditionLevel(double value, std::span<const double> kernel, tColumnHistory& history) {
    const auto size = kernel.size();
    if (size < 2 || size > history.aValues.size()) return value;
    const int32_t n = static_cast<int32_t>(size) - 1;

    double sum = kernel[static_cast<size_t>(n)] * value;
    // Reading from nuPos mod n onwards walks from the previous input to the oldest one; the
    // oldest slot is then overwritten, so the write position moves down one slot per call.
    // A position made negative by hand is taken as 0 rather than indexing out of the ring.
    // No division in the usual case: this runs for every bin of every pass.
    int32_t i = history.nuPos < 0 ? 0 : history.nuPos;
    if (i >= n) i %= n;
    int32_t last = i;
    for (int32_t a = n - 1; a >= 0; --a) {
        sum = kernel[static_cast<size_t>(a)] * history.aValues[static_cast<size_t>(i)] + sum;
        last = i;
        i = i + 1 == n ? 0 : i + 1;
    }
    history.nuPos = last;
    history.aValues[static_cast<size_t>(last)] = value;
    return sum;
}

HumBand HumBandFor(bool checked, int32_t resolution) {
    if (!checked) return {};
    const double r = resolution;
    const double h = rnd(r * 48.7);
    const double f = 0.07 / r + 1;
    return {rnd(h / f), rnd(f * h)};
}

} // namespace analyser
