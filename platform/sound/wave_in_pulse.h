// SPDX-License-Identifier: GPL-3.0-or-later
// The sound server through libpulse itself (PulseAudio, or PipeWire's pulse server): one device
// that records the chosen source, or the server's default source at the time of the open, at the
// source's own rate, converted by WaveInResampler.
#pragma once

#include "platform/sound/wave_in_backend.h"

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

struct pa_threaded_mainloop;
struct pa_context;

namespace platform {

// Through ALSA's pulse plugin every piece of the recording woke PortAudio's thread and the
// plugin's libpulse thread, about 150 wake-ups a second between them. Here libpulse's own loop
// thread takes the server's fragments, converts the rate and fills the queued headers: one thread,
// one wake-up per fragment.
//
// Nothing waits on the server on the program's thread once the backend is made: an open returns
// at once and the device records, or fails, when the server has answered (or after
// kOpenSeconds); the list of sources is kept current on libpulse's thread through a subscription.
// A recording stays on its source: when that source goes away the device fails and says so; a
// new default source is taken by the next open only.
//
// Create one before the window; available() says whether a server answered (none is ever started
// for us). A server that goes away fails the open stream; the next open() connects again.
class PulseWaveIn final : public WaveInBackend {
public:
    // The server's fragments are about this long: long enough for few wake-ups, short enough that
    // a completed capture buffer is handed on within one fragment of its last sample.
    static constexpr double kFragmentSeconds = 0.040;
    // An open the server has not answered within this time fails with "the sound server did not
    // answer", and the connection is made afresh by the next open.
    static constexpr double kOpenSeconds = 5.0;

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
    // The server's sources, monitors of its sinks included; the default source marked. Read from
    // the list kept current beside the program; while there is no connection, one is begun for
    // the next look.
    std::vector<WaveInInput> inputs(std::uint32_t deviceId) override;
    // key: a source's name, or "" for the default source when the server answers.
    MMRESULT openInput(const std::string& key, std::uint32_t id, const WAVEFORMATEX& format,
                       WaveInQueue& queue, std::unique_ptr<WaveInStream>& stream) override;

private:
    class Stream;
    // All under the loop's lock.
    bool beginConnect(); // a new context, connecting; false when it failed at once
    // Gives up the connection (callbacks off); streams waiting for it fail with why.
    void dropContext(const std::string& why);
    void connectionLost(const std::string& why); // fails the waiting streams, forgets the list
    bool contextReady() const;
    void onContextState(); // on the loop's thread
    void refreshSources(); // asks for the sources and the default source again
    std::string describe(const std::string& key); // the description of a source ("": the default)

    pa_threaded_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    bool available_ = false;
    std::string initError_;
    std::string serverName_;
    std::vector<Stream*> waiting_; // opened before the connection was ready
    bool listing_ = false;         // a refresh is on its way
    bool relist_ = false;          // and another is wanted after it
    std::vector<WaveInInput> building_;

    // The list as last heard, read by the program's thread.
    mutable std::mutex listMutex_;
    std::vector<WaveInInput> sources_; // isDefault not set here
    std::string defaultSource_;
    // Every source once listed, name and description, to name one that has gone.
    std::map<std::string, std::string> known_;
};

} // namespace platform
