// SPDX-License-Identifier: GPL-3.0-or-later
// Simulated wave-input devices for tests: a scripted device list, scripted failures, and buffers
// that complete only when the test says so, filled from a chosen sample source.
#pragma once

#include "platform/sound/wave_in_backend.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace platform {

// Produces sample number `index` (0-based since the device was opened) at `rate` per second.
struct SampleSource {
    std::function<std::int16_t(std::uint64_t index, std::uint32_t rate)> sample;

    static SampleSource Constant(std::int16_t value);
    static SampleSource Sine(double hertz, double amplitude);
    static SampleSource Noise(double amplitude, std::uint32_t seed = 1);
    // Repeats the given values.
    static SampleSource Sequence(std::vector<std::int16_t> values);
};

class SimulatedWaveIn final : public WaveInBackend {
public:
    static constexpr std::uint32_t kMono16 = WAVE_FORMAT_1M16 | WAVE_FORMAT_2M16 | WAVE_FORMAT_4M16;

    struct Device {
        std::string name;
        std::uint32_t formats = kMono16;
    };
    enum class Step { Open, Prepare, Add, Start };

    // Installs itself as the wave-in backend for its lifetime (the previous one comes back after).
    // With no list: one suitable device, "Simulated input".
    SimulatedWaveIn();
    explicit SimulatedWaveIn(std::vector<Device> devices);
    ~SimulatedWaveIn() override;
    SimulatedWaveIn(const SimulatedWaveIn&) = delete;
    SimulatedWaveIn& operator=(const SimulatedWaveIn&) = delete;

    void setDevices(std::vector<Device> devices);
    // The call of `step` after `skip` successful ones returns `code`, once, with `detail` as the
    // device's words for it when given.
    void failAt(Step step, MMRESULT code, int skip = 0, std::string detail = {});
    void setSource(SampleSource source);

    // Fills the front queued buffer of the open, started device from the source and marks it
    // done. False (and nothing happens) when there is none, or the device has gone.
    bool completeBuffer();
    // Records `samples` samples into whatever is queued; returns how many found a buffer.
    std::size_t feed(std::size_t samples);
    // The open device fails for good: nothing completes any more, its calls (and later opens of
    // the same id) return MMSYSERR_NODRIVER. With a text, that is the whole message the device
    // gives for it (as an input that was removed does).
    void disappear(std::string failureText = {});
    // The next device opened stays in opening (as on a sound server that has not answered yet):
    // nothing completes until finishOpening(), which opens it, or fails it with `failure`.
    void holdOpening() { holdOpening_ = true; }
    void finishOpening(std::string failure = {});
    bool isOpening() const;

    // What happened, for tests.
    int openCount() const { return opens_; }
    int closeCount() const { return closes_; }
    bool isOpen() const { return stream_ != nullptr; }
    bool isStarted() const;
    std::uint32_t openedDevice() const { return openedId_; }
    const WAVEFORMATEX& openedFormat() const { return openedFormat_; }
    std::size_t queuedBuffers() const;
    // "open <id>", "prepare", "add", "start", "stop", "close", in order.
    const std::vector<std::string>& calls() const { return calls_; }

    std::uint32_t deviceCount() override;
    MMRESULT deviceCaps(std::uint32_t id, WAVEINCAPSA& caps) override;
    MMRESULT open(std::uint32_t id, const WAVEFORMATEX& format, WaveInQueue& queue,
                  std::unique_ptr<WaveInStream>& stream) override;

private:
    class Stream;
    friend class Stream;
    MMRESULT scripted(Step step);

    struct Failure {
        Step step;
        MMRESULT code;
        int skip;
        std::string detail;
    };
    std::vector<Device> devices_;
    std::vector<bool> gone_;
    std::vector<Failure> failures_;
    SampleSource source_;
    Stream* stream_ = nullptr;
    int opens_ = 0;
    int closes_ = 0;
    std::uint32_t openedId_ = 0;
    WAVEFORMATEX openedFormat_{};
    std::vector<std::string> calls_;
    bool holdOpening_ = false;
    WaveInBackend* previous_;
};

} // namespace platform
