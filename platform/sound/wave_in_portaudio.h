// SPDX-License-Identifier: GPL-3.0-or-later
// The real wave-input devices: PortAudio's input-capable devices (on Linux those of ALSA only),
// recorded at each device's default rate and converted to the rate the program asks for by
// WaveInResampler.
#pragma once

#include "platform/sound/wave_in_backend.h"

#include <portaudio.h>

#include <string>
#include <vector>

namespace platform {

// Create one, after the sound server is up (PortAudio lists devices once, when initialised),
// and install it with SetWaveInBackend. ALSA's and JACK's probing messages are kept off stderr.
//
// Threads: PortAudio's callback only copies the device's samples into a WaveInPipe and, once the
// input that completes the front header is in, releases a semaphore; a worker thread per open
// device then drains the pipe (converts the rate and fills the queued headers), so the callback
// never waits on the conversion.
class PortAudioWaveIn final : public WaveInBackend {
public:
    // About 23 ms at 44.1 kHz. Each callback wakes PortAudio's thread, libpulse's and our worker;
    // 256 frames meant 170 wake-ups a second of each, which cost more than the analysis. A
    // capture buffer lasts a second or more, so the coarser hand-over only moves its
    // completion by up to one callback.
    static constexpr unsigned long kFramesPerCallback = 1024;

    PortAudioWaveIn();
    ~PortAudioWaveIn() override;
    PortAudioWaveIn(const PortAudioWaveIn&) = delete;
    PortAudioWaveIn& operator=(const PortAudioWaveIn&) = delete;

    // Empty when PortAudio started; otherwise why not (and there are no devices).
    const std::string& initError() const { return initError_; }

    std::uint32_t deviceCount() override;
    MMRESULT deviceCaps(std::uint32_t id, WAVEINCAPSA& caps) override;
    MMRESULT open(std::uint32_t id, const WAVEFORMATEX& format, WaveInQueue& queue,
                  std::unique_ptr<WaveInStream>& stream) override;
    // PortAudio's whole name, without the format probing of deviceCaps (which opens the device).
    std::string deviceName(std::uint32_t id) override;

private:
    bool initialised_ = false;
    std::string initError_;
    std::vector<PaDeviceIndex> inputs_;
};

// A PortAudio failure as a result code (with its text recorded as the call's detail).
MMRESULT WaveInResultFromPa(PaError error, const std::string& what);

} // namespace platform
