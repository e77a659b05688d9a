// SPDX-License-Identifier: GPL-3.0-or-later
// The way recorded samples take from a device that hands them over in pieces (the sound server,
// PortAudio) to the program's queued headers: a ring they are copied into, and a drain that
// converts the rate and fills the headers once the input that completes the front header is in.
#pragma once

#include "platform/sound/wave_in_backend.h"
#include "platform/sound/wave_in_resampler.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// One writer (the device's thread) and one drainer, on that thread or another. Converting a
// header's worth at a time instead of each piece as it comes halves the cost: between pieces the
// other programs push the converter's table out of the caches. Without a header queued the
// drainer looks at every piece, as bytes with nowhere to go are dropped, not kept for a header
// queued later. Each header is still handed on within one piece of its last sample.
//
// Neither side allocates, locks or blocks; everything is sized by setUp().
class WaveInPipe {
public:
    static constexpr std::size_t kChunk = 1024; // samples converted at a time

    explicit WaveInPipe(WaveInQueue& queue) : queue_(queue) {}

    // Room for about two seconds at deviceRate, and the conversion to outputRate (none when
    // the two are equal). False (with why()) when the rates cannot be converted. Before recording.
    bool setUp(std::uint32_t deviceRate, std::uint32_t outputRate);
    const std::string& why() const { return resampler_.why(); }
    // A new recording: nothing in the ring, the converter's history forgotten. Only while
    // neither side runs.
    void reset();

    // Writer: copies the samples in (what finds no room is dropped). True when the ring has
    // reached the point at which the drainer has work: the caller drains, or wakes the drainer.
    bool push(const std::int16_t* samples, std::size_t count);
    // Drainer: converts and hands on everything in the ring, then marks the point of the next
    // wake-up (the input that completes the front header, or half the ring).
    void drain();

private:
    void convertArrived();

    WaveInQueue& queue_;
    std::vector<std::int16_t> ring_; // a power of two long
    // Sequentially consistent between push's store of writePos_ and load of wakeAt_, and
    // drain's store of wakeAt_ and second look at writePos_: either the writer sees the new wake
    // point, or the drainer sees the samples.
    std::atomic<std::size_t> writePos_{0};
    std::atomic<std::size_t> readPos_{0};
    std::atomic<std::size_t> wakeAt_{
        1}; // the first piece: the drainer then learns what to wait for
    bool convert_ = false;
    WaveInResampler resampler_;
    std::vector<std::int16_t> in_;
    std::vector<std::int16_t> out_;
};

} // namespace platform
