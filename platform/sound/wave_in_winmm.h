// SPDX-License-Identifier: GPL-3.0-or-later
// The real wave-input devices on Windows: winmm's own waveIn devices, recorded at the rate the
// program asks for or, when a device refuses it, at one it takes, converted by WaveInResampler.
#pragma once

#include "platform/sound/wave_in_backend.h"

#include <cstdint>
#include <functional>
#include <memory>

namespace platform {

// Create one and install it with SetWaveInBackend. Device ids are winmm's own (0 to
// waveInGetNumDevs() - 1; the wave mapper is not offered), listed afresh on every call.
//
// Threads: each open device records into its own small ring of winmm buffers. A worker thread,
// woken by winmm's event, puts each completed buffer in order into a WaveInPipe, which it drains
// into the program's queued headers (converting the rate when it must), and gives the buffer
// straight back to winmm. Everything it touches is allocated when the device is opened.
class WinmmWaveIn final : public WaveInBackend {
public:
    // The device's own buffers: kBuffers of about kBufferSeconds each, so a completed header of
    // the program's is handed on within about that time of its last sample arriving.
    static constexpr std::uint32_t kBuffers = 8;
    static constexpr double kBufferSeconds = 0.01;
    static constexpr std::uint32_t kMinFramesPerBuffer = 32;

    // recordRate 0: record at the rate asked for whenever the device takes it. Otherwise every
    // device is recorded at recordRate and converted (for devices whose own conversion is poor,
    // and to check this one's on a device that takes every rate).
    explicit WinmmWaveIn(std::uint32_t recordRate = 0);
    ~WinmmWaveIn() override;
    WinmmWaveIn(const WinmmWaveIn&) = delete;
    WinmmWaveIn& operator=(const WinmmWaveIn&) = delete;

    std::uint32_t deviceCount() override;
    MMRESULT deviceCaps(std::uint32_t id, WAVEINCAPSA& caps) override;
    MMRESULT open(std::uint32_t id, const WAVEFORMATEX& format, WaveInQueue& queue,
                  std::unique_ptr<WaveInStream>& stream) override;

private:
    std::uint32_t recordRate_;
};

// Frames in each of the device's buffers at `rate`.
std::uint32_t WinmmFramesPerBuffer(std::uint32_t rate);

// The choice of recording rate: tryRate(rate) opens at that rate and returns winmm's result.
// The asked rate is tried first; while the result is WAVERR_BADFORMAT the usual device rates
// follow: the higher ones (common ones first), then the lower ones from the highest down, so
// that as much of the asked band as possible survives. Any other result ends the search. On
// success `opened` is the rate that was taken.
MMRESULT OpenAtTakenRate(std::uint32_t asked,
                         const std::function<MMRESULT(std::uint32_t rate)>& tryRate,
                         std::uint32_t& opened);

} // namespace platform
