// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/system/perf_counter.h"

#include <atomic>
#include <chrono>

namespace platform {
namespace {

class SteadyClock final : public CounterSource {
public:
    std::int64_t frequency() const override {
        using period = std::chrono::steady_clock::period;
        return period::den / period::num;
    }
    std::int64_t count() const override {
        return std::chrono::steady_clock::now().time_since_epoch().count();
    }
};

const SteadyClock steadyClock;
std::atomic<const CounterSource*> currentSource{&steadyClock};

} // namespace

std::int64_t QueryPerformanceFrequency() {
    return currentSource.load()->frequency();
}
std::int64_t QueryPerformanceCounter() {
    return currentSource.load()->count();
}

void SetCounterSource(const CounterSource* source) {
    currentSource.store(source ? source : &steadyClock);
}

ManualClock::ManualClock(std::int64_t countsPerSecond) : frequency_(countsPerSecond) {
    SetCounterSource(this);
}

ManualClock::~ManualClock() {
    if (currentSource.load() == this) SetCounterSource(nullptr);
}

} // namespace platform
