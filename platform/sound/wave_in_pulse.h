// SPDX-License-Identifier: GPL-3.0-or-later
// The sound server's default source through libpulse itself (PulseAudio, or PipeWire's pulse
// server): one device, recorded at the source's own rate and converted by WaveInResampler.
#pragma once

#include "platform/sound/wave_in_backend.h"

#include <memory>
#include <string>

struct pa_threaded_mainloop;
struct pa_context;

namespace platform {

// Through ALSA's pulse plugin every piece of the recording woke PortAudio's thread and the
// plugin's libpulse thread, about 150 wake-ups a second between them. Here libpulse's own loop
// thread takes the server's fragments, converts the rate and fills the queued headers: one thread,
// one wake-up per fragment.
//
// Create one before the window; available() says whether a server answered (none is ever started
// for us). A server that goes away fails the open stream; the next open() connects again.
class PulseWaveIn final : public WaveInBackend {
public:
    // The server's fragments are about this long: long enough for few wake-ups, short enough that
    // a completed capture buffer is handed on within one fragment of its last sample.
    static constexpr double kFragmentSeconds = 0.040;

    PulseWaveIn();
    ~PulseWaveIn() override;
    PulseWaveIn(const PulseWaveIn&) = delete;
    PulseWaveIn& operator=(const PulseWaveIn&) = delete;

    bool available() const { return available_; }
    // Why no server could be reached (empty when one was).
    const std::string& initError() const { return initError_; }

    std::uint32_t deviceCount() override;
    MMRESULT deviceCaps(std::uint32_t id, WAVEINCAPSA& caps) override;
    MMRESULT open(std::uint32_t id, const WAVEFORMATEX& format, WaveInQueue& queue,
                  std::unique_ptr<WaveInStream>& stream) override;

private:
    // Under the loop's lock: a context that is ready, connecting a new one when the last one
    // failed. False (with why) when the server does not answer.
    bool connect(std::string& why);

    pa_threaded_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    bool available_ = false;
    std::string initError_;
    std::string serverName_;
};

} // namespace platform
