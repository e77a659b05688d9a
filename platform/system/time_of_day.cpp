// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/system/time_of_day.h"

#include <QDateTime>

#include <chrono>

namespace platform {

namespace {
std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}
} // namespace

QTime LocalClock::at(std::int64_t msecsSinceEpoch) {
    const std::int64_t secs = FloorDiv(msecsSinceEpoch, 1000);
    const int ms = static_cast<int>(msecsSinceEpoch - secs * 1000);
    // Outside the cached minute (also when the clock was set back): ask the system once.
    if (hour_ < 0 || secs < minuteStartSecs_ || secs >= minuteStartSecs_ + 60) {
        const QTime local = QDateTime::fromSecsSinceEpoch(secs).time();
        ++lookups_;
        hour_ = local.hour();
        minute_ = local.minute();
        minuteStartSecs_ = secs - local.second();
    }
    return QTime(hour_, minute_, static_cast<int>(secs - minuteStartSecs_), ms);
}

QTime LocalTimeOfDay() {
    thread_local LocalClock clock;
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    return clock.at(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

} // namespace platform
