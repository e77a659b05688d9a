// SPDX-License-Identifier: GPL-3.0-or-later
// The local time of day, cheap enough to ask for on every pass of a loop.
//
// Asking the system for local time re-reads the time-zone setting each time (a file system call
// per question on Linux). The time zone is looked up once per local minute instead: within a
// minute the local time is the cached hour and minute plus the seconds that have passed, so the
// text is the same as the system's for every zone whose changes fall on a whole minute (all of
// today's), and a new zone setting shows from the next minute on.
#pragma once

#include <QTime>

#include <cstdint>

namespace platform {

class LocalClock {
public:
    // The local time at this instant (milliseconds since 1970-01-01 00:00 UTC).
    QTime at(std::int64_t msecsSinceEpoch);
    // How many times the time zone has been consulted.
    int lookups() const { return lookups_; }

private:
    std::int64_t minuteStartSecs_ = 0; // the current local minute's start, seconds since 1970
    int hour_ = -1;
    int minute_ = 0;
    int lookups_ = 0;
};

// The local time of day now, through one clock shared by the user-interface thread.
QTime LocalTimeOfDay();

} // namespace platform
