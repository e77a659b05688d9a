// SPDX-License-Identifier: GPL-3.0-or-later
// Drives the analyser window's loop from a test or a tool: the event loop is spun one round at a
// time until the loop reaches the wanted point, so nothing waits on the wall clock.
#pragma once

#include "analyser/fFFT.h"

#include <QCoreApplication>
#include <QElapsedTimer>

namespace loop_driver {

// Spins the event loop one round at a time until pred holds; false after timeoutMs (a negative
// timeout spins for as long as it takes, without reading a clock).
template <class P> bool SpinUntil(P pred, int timeoutMs = 3000) {
    if (timeoutMs < 0) {
        while (!pred()) QCoreApplication::processEvents();
        return true;
    }
    QElapsedTimer t;
    t.start();
    while (!pred()) {
        if (t.elapsed() > timeoutMs) return false;
        QCoreApplication::processEvents();
    }
    return true;
}

// Until a pass that begins after now is parked at point (AfterRead: it read a block).
bool ToNextPassParkedAt(const fFFT& window, fFFT::LoopPoint point, int timeoutMs = 3000);

} // namespace loop_driver
