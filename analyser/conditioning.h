// SPDX-License-Identifier: GPL-3.0-or-later
// Per-column time smoothing of spectrum levels (ring-buffer FIR filters) and the hum band
// round 48.7 Hz whose waterfall levels are divided.
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace analyser {

// Filter history of one display column: a ring of earlier inputs with a moving position.
struct tColumnHistory {
    int32_t nuPos = 0;
    std::array<double, 7> aValues{};
};

// Kernels c[0..n]: c[n] weights the newest input, c[0] the oldest. The Savitzky-Golay
// weights are (3, -5, -3, 9, 31)/35 rounded to three decimals on purpose.
inline constexpr std::array<double, 2> KernelNone{0, 1};
inline constexpr std::array<double, 5> KernelSavGol{0.086, -0.143, -0.086, 0.257, 0.886};
inline constexpr std::array<double, 7> KernelWeighted{0.02, 0.03, 0.05, 0.1, 0.2, 0.3, 0.3};

// One filter step for one column: returns c[n]*x(t) + c[n-1]*x(t-1) + ... + c[0]*x(t-n),
// added newest first, and stores value in the ring. The ring is not reset when the kernel
// changes: the next call simply reads it modulo the new n. A kernel must hold 2..7
// coefficients; any other size returns value unchanged and leaves the history alone.
// No allocation: safe for the per-bin loop.
double ConditionLevel(double value, std::span<const double> kernel, tColumnHistory& history);

// Inclusive band of bin numbers whose waterfall level is divided; {-1, -1} when off.
struct HumBand {
    int32_t first = -1;
    int32_t last = -1;
};

// The band for the hum check box's state and the resolution (bins per hertz, >= 1).
HumBand HumBandFor(bool checked, int32_t resolution);

inline bool InHumBand(int32_t bin, HumBand band) {
    return bin >= band.first && bin <= band.last;
}

} // namespace analyser
