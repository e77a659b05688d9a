// SPDX-License-Identifier: GPL-3.0-or-later
// The cached local clock against the system's own conversion, across minutes, a daylight-saving
// change and a clock set back.
#include "platform/system/time_of_day.h"

#include <QDateTime>

#include <gtest/gtest.h>

#include <ctime>

using namespace platform;

namespace {

#ifdef _WIN32
constexpr bool kWindows = true;
#else
constexpr bool kWindows = false;
#endif

class TimeZone {
public:
    explicit TimeZone(const char* zone)
        : old_(qgetenv("TZ")), had_(qEnvironmentVariableIsSet("TZ")) {
        qputenv("TZ", zone);
        tzset();
    }
    ~TimeZone() {
        if (had_)
            qputenv("TZ", old_);
        else
            qunsetenv("TZ");
        tzset();
    }

private:
    QByteArray old_;
    bool had_;
};

QTime System(std::int64_t ms) {
    return QDateTime::fromMSecsSinceEpoch(ms).time();
}

TEST(LocalClockTest, SameTimeAsTheSystemWithOneLookupPerMinute) {
    const TimeZone berlin("Europe/Berlin");
    // 2026-03-29 01:00 UTC: Berlin goes from 02:00 to 03:00. Four minutes round it, in steps of
    // 250 ms, then a jump back by 90 s.
    const std::int64_t change =
        QDateTime(QDate(2026, 3, 29), QTime(1, 0), Qt::UTC).toMSecsSinceEpoch();
    ASSERT_EQ(System(change - 1000), QTime(1, 59, 59)) << "the zone is not known here";
    LocalClock clock;
    for (std::int64_t ms = change - 120'000; ms < change + 120'000; ms += 250)
        ASSERT_EQ(clock.at(ms), System(ms)) << ms - change;
    EXPECT_LE(clock.lookups(), 5);
    // Windows reads TZ without a zone's rules (it keeps its own zone settings), so there the
    // system may not move the clock at all; the agreement above is what must hold everywhere.
    if (System(change + 5000) == QTime(3, 0, 5) || !kWindows) {
        EXPECT_EQ(clock.at(change + 5000), QTime(3, 0, 5));
    }
    EXPECT_EQ(clock.at(change - 90'000), QTime(1, 58, 30)) << "a clock set back";
    EXPECT_EQ(clock.at(-1), System(-1)) << "before 1970 the seconds still count down";
}

TEST(LocalClockTest, TheSharedClockTellsTheTimeNow) {
    // Taken between two system readings of the same second, it must show that second.
    for (int attempt = 0; attempt < 5; ++attempt) {
        const QTime before = QTime::currentTime();
        const QTime now = LocalTimeOfDay();
        const QTime after = QTime::currentTime();
        if (before.second() != after.second()) continue;
        EXPECT_EQ(now.toString("hh:mm:ss"), before.toString("hh:mm:ss"));
        return;
    }
    FAIL() << "the second never stood still";
}

} // namespace
