// SPDX-License-Identifier: GPL-3.0-or-later
// The window system's event queue as the handlers use it: letting pending events run from inside
// a handler, and posting a command that runs once the current handler has returned.
#pragma once

#include <QObject>

#include <functional>

namespace platform {

// Runs the events that are waiting (paints, clicks, timers, posted commands), then returns.
void DoEvents();

// Queues command to run from the event loop after the current handler returns (or at the next
// DoEvents). It is dropped when context is destroyed first.
void PostCommand(QObject* context, std::function<void()> command);

} // namespace platform
