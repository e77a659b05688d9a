// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/sound/wave_in_pipe.h"

#include <algorithm>

namespace platform {

bool WaveInPipe::setUp(std::uint32_t deviceRate, std::uint32_t outputRate) {
    std::size_t capacity = 1;
    while (capacity < 2 * static_cast<std::size_t>(deviceRate)) capacity <<= 1;
    ring_.assign(capacity, 0);
    in_.assign(kChunk, 0);
    convert_ = deviceRate != outputRate;
    if (!convert_) return true;
    if (!resampler_.setUp(deviceRate, outputRate)) return false;
    out_.assign(resampler_.outputFor(kChunk), 0);
    return true;
}

void WaveInPipe::reset() {
    readPos_.store(0);
    writePos_.store(0);
    wakeAt_.store(1);
    if (convert_) resampler_.reset();
}

bool WaveInPipe::push(const std::int16_t* samples, std::size_t count) {
    const std::size_t write = writePos_.load(std::memory_order_relaxed);
    const std::size_t read = readPos_.load(std::memory_order_acquire);
    const std::size_t n = std::min(count, ring_.size() - (write - read));
    const std::size_t mask = ring_.size() - 1;
    for (std::size_t i = 0; i < n; ++i) ring_[(write + i) & mask] = samples[i];
    writePos_.store(write + n);
    const std::size_t at = wakeAt_.load();
    return write < at && write + n >= at;
}

void WaveInPipe::drain() {
    for (;;) {
        convertArrived();
        const std::size_t read = readPos_.load(std::memory_order_relaxed);
        std::size_t needed = 1;
        if (const std::size_t bytes = queue_.bytesToNextCompletion()) {
            // A header of odd length takes one byte more than a whole number of samples holds.
            const std::size_t samples = (bytes + 1) / sizeof(std::int16_t);
            needed = convert_ ? resampler_.inputFor(samples) : samples;
        }
        const std::size_t at = read + std::clamp<std::size_t>(needed, 1, ring_.size() / 2);
        wakeAt_.store(at);
        if (writePos_.load() < at) return;
    }
}

void WaveInPipe::convertArrived() {
    const std::size_t mask = ring_.size() - 1;
    for (;;) {
        const std::size_t read = readPos_.load(std::memory_order_relaxed);
        const std::size_t write = writePos_.load(std::memory_order_acquire);
        const std::size_t n = std::min(write - read, kChunk);
        if (n == 0) return;
        for (std::size_t i = 0; i < n; ++i) in_[i] = ring_[(read + i) & mask];
        readPos_.store(read + n, std::memory_order_release);
        if (!convert_) {
            queue_.deliver(in_.data(), n * sizeof(std::int16_t));
            continue;
        }
        const std::size_t produced = resampler_.process(in_.data(), n, out_.data(), out_.size());
        if (produced) queue_.deliver(out_.data(), produced * sizeof(std::int16_t));
    }
}

} // namespace platform
