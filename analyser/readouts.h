// SPDX-License-Identifier: GPL-3.0-or-later
// The frequency readout under the pointer: the value, its text and where its label goes.
#pragma once

#include <cstdint>
#include <string>

namespace analyser {

// Frequency in hertz at pointer column x (pixels, may lie outside the picture: the line is
// extrapolated), computed as ((high - low) * x) / waterLast + low in that order.
double ReadoutFrequency(double low, double high, double x, int32_t waterLast);

// The readout as plain decimal text, rounded half to even: "392", "-3", "0" (never "-0").
// A non-finite frequency (e.g. a zero-width picture) gives an empty text.
std::string ReadoutText(double f);

// Left edge of the readout label so that it is centred on the pointer's column measured from
// the spectrum picture's left edge. All in pixels (the window's layout unit here).
int32_t LabelLeft(double xPixels, int32_t spectrumLeft, int32_t labelWidth);

} // namespace analyser
