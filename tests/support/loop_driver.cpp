// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/loop_driver.h"

namespace test_support {

bool ToNextPassParkedAt(const fFFT& window, fFFT::LoopPoint point, int timeoutMs) {
    const auto begun = window.PassesBegun();
    return SpinUntil([&] { return window.PassesBegun() > begun && window.LoopParkedAt() == point; },
                     timeoutMs);
}

} // namespace test_support
