// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/loop_driver.h"

namespace loop_driver {

bool ToNextPassParkedAt(const fFFT& window, fFFT::LoopPoint point, int timeoutMs) {
    const auto begun = window.PassesBegun();
    return SpinUntil([&] { return window.PassesBegun() > begun && window.LoopParkedAt() == point; },
                     timeoutMs);
}

} // namespace loop_driver
