// SPDX-License-Identifier: GPL-3.0-or-later
// The high-resolution performance counter: a 64-bit running count and its frequency.
// Backed by std::chrono::steady_clock; tests install a ManualClock to control time exactly.
#pragma once

#include <cstdint>

namespace platform {

class CounterSource {
public:
    virtual ~CounterSource() = default;
    virtual std::int64_t frequency() const = 0;
    virtual std::int64_t count() const = 0;
};

// Counts per second of the current source.
std::int64_t QueryPerformanceFrequency();
// The current source's running count.
std::int64_t QueryPerformanceCounter();

// Replaces the counter source; nullptr restores the steady clock. The caller keeps ownership.
void SetCounterSource(const CounterSource* source);

// A counter that moves only when told to. Installs itself for its lifetime.
class ManualClock final : public CounterSource {
public:
    explicit ManualClock(std::int64_t countsPerSecond = 1'000'000);
    ~ManualClock() override;
    ManualClock(const ManualClock&) = delete;
    ManualClock& operator=(const ManualClock&) = delete;

    std::int64_t frequency() const override { return frequency_; }
    std::int64_t count() const override { return count_; }
    void advance(std::int64_t counts) { count_ += counts; }
    void advanceMs(double ms) { count_ += static_cast<std::int64_t>(ms * frequency_ / 1000.0); }

private:
    std::int64_t frequency_;
    std::int64_t count_ = 0;
};

} // namespace platform
