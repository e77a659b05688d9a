// SPDX-License-Identifier: GPL-3.0-or-later
// Arithmetic of one loop pass, kept apart from the window so it can be checked directly.
#pragma once

#include <cstdint>

class QTime;

namespace analyser {

// The spectrum picture's frame for a pass: its scale height and the zero line, both from the
// previous processed pass's peak, in single precision.
struct SpectrumFrame {
    float scaleHeight = 0;
    float baseline = 0;
};
SpectrumFrame SpectrumFrameFor(double previousPeak, double shift);

// Whether a column is listed: the threshold lies strictly below the rounded level's
// waterfall value.
bool AboveThreshold(int32_t threshold, double level, double contrast, double bright);

// The tick latch after a processed pass: only from the 50th processed pass since the last
// tick, set by a time text ending in '9' and then held.
bool TickDueAfter(int32_t passCount, bool tickDue, char lastCharacter);

// The read position after a drawn pass that ran from countStart to countEnd.
int32_t AdvancedStartIndex(int32_t startIndex, int64_t countStart, int64_t countEnd,
                           int64_t countFreq, double timeScale);

// "HH:mm:ss" (24-hour) into a fixed buffer, so taking the time text never allocates (in
// pass_time.cpp: it reads a QTime, the rest of this module is plain C++).
void FormatTimeText(const QTime& time, char (&text)[9]);

} // namespace analyser
