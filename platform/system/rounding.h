// SPDX-License-Identifier: GPL-3.0-or-later
// Double-to-integer conversion used by every threshold, bin number, colour and pixel position:
// round to nearest with ties to even, saturating instead of overflowing.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#endif

namespace platform {

// Rounds to the nearest integer, halves to the even neighbour (42.5 -> 42, 127.5 -> 128),
// as std::nearbyint does under the default rounding mode. Out-of-range inputs saturate:
// above INT32_MAX (or +inf) gives INT32_MAX, below INT32_MIN (or -inf) gives INT32_MIN,
// and NaN gives 0, so a bad level can never turn into undefined behaviour.
inline std::int32_t rnd(double x) {
#if defined(__SSE2__) || defined(_M_X64)
    // The conversion instruction rounds as the current mode says, as nearbyint does, and runs
    // inline: this is called several times for every bin of every pass. Inside this open range
    // the result is representable, so it is exactly nearbyint's; NaN fails both compares.
    if (x > -2147483648.0 && x < 2147483647.0) return _mm_cvtsd_si32(_mm_set_sd(x));
#endif
    if (std::isnan(x)) return 0;
    const double r = std::nearbyint(x);
    if (r >= 2147483647.0) return std::numeric_limits<std::int32_t>::max();
    if (r <= -2147483648.0) return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(r);
}

} // namespace platform
