// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/sound/wave_in_simulated.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <random>

namespace platform {

SampleSource SampleSource::Constant(std::int16_t value) {
    return {[value](std::uint64_t, std::uint32_t) { return value; }};
}

SampleSource SampleSource::Sine(double hertz, double amplitude) {
    return {[hertz, amplitude](std::uint64_t index, std::uint32_t rate) {
        const double phase = 2.0 * std::numbers::pi * hertz * static_cast<double>(index) / rate;
        return static_cast<std::int16_t>(std::lrint(amplitude * std::sin(phase)));
    }};
}

SampleSource SampleSource::Noise(double amplitude, std::uint32_t seed) {
    auto engine = std::make_shared<std::mt19937>(seed);
    return {[engine, amplitude](std::uint64_t, std::uint32_t) {
        std::uniform_real_distribution<double> d(-amplitude, amplitude);
        return static_cast<std::int16_t>(std::lrint(d(*engine)));
    }};
}

SampleSource SampleSource::Sequence(std::vector<std::int16_t> values) {
    return {[values = std::move(values)](std::uint64_t index, std::uint32_t) {
        return values.empty() ? std::int16_t{0} : values[index % values.size()];
    }};
}

class SimulatedWaveIn::Stream final : public WaveInStream {
public:
    Stream(SimulatedWaveIn& owner, WaveInQueue& queue, std::uint32_t id, std::uint32_t rate)
        : owner_(owner), queue_(queue), id_(id), rate_(rate) {}
    ~Stream() override {
        if (owner_.stream_ == this) owner_.stream_ = nullptr;
    }

    MMRESULT prepare(WAVEHDR&) override {
        owner_.calls_.push_back("prepare");
        return gone() ? MMSYSERR_NODRIVER : owner_.scripted(Step::Prepare);
    }
    MMRESULT add(WAVEHDR&) override {
        owner_.calls_.push_back("add");
        return gone() ? MMSYSERR_NODRIVER : owner_.scripted(Step::Add);
    }
    MMRESULT start() override {
        owner_.calls_.push_back("start");
        if (gone()) return MMSYSERR_NODRIVER;
        const MMRESULT r = owner_.scripted(Step::Start);
        if (r == MMSYSERR_NOERROR) started_ = true;
        return r;
    }
    MMRESULT stop() override {
        owner_.calls_.push_back("stop");
        started_ = false;
        return gone() ? MMSYSERR_NODRIVER : MMSYSERR_NOERROR;
    }
    bool failed() const override { return gone() || !openFailure_.empty(); }
    bool opening() const override { return opening_; }
    std::string failure() const override {
        return openFailure_.empty() ? "the simulated device went away" : openFailure_;
    }
    std::string failureText() const override { return gone() ? failureText_ : std::string(); }
    MMRESULT close() override {
        owner_.calls_.push_back("close");
        ++owner_.closes_;
        return gone() ? MMSYSERR_NODRIVER : MMSYSERR_NOERROR;
    }

    bool gone() const { return owner_.gone_.size() > id_ && owner_.gone_[id_]; }
    bool started() const { return started_; }
    void holdOpening() { opening_ = true; }
    void finishOpening(std::string failure) {
        opening_ = false;
        openFailure_ = std::move(failure);
    }
    void setFailureText(std::string text) { failureText_ = std::move(text); }
    std::size_t queued() const { return queue_.queued(); }

    std::size_t record(std::size_t samples) {
        std::vector<std::int16_t> data(samples);
        for (auto& s : data) s = owner_.source_.sample(index_++, rate_);
        return queue_.deliver(data.data(), samples * sizeof(std::int16_t)) / sizeof(std::int16_t);
    }
    bool completeOne() {
        if (gone() || !started_ || opening_ || !openFailure_.empty()) return false;
        const std::size_t bytes = queue_.bytesToNextCompletion();
        if (bytes == 0) return false;
        // A header of odd length takes one byte more than a whole number of samples holds.
        const std::size_t samples = (bytes + 1) / sizeof(std::int16_t);
        std::vector<std::int16_t> data(samples);
        for (auto& s : data) s = owner_.source_.sample(index_++, rate_);
        queue_.deliver(data.data(), bytes);
        return true;
    }
    std::size_t feed(std::size_t samples) {
        if (gone() || !started_ || opening_ || !openFailure_.empty()) return 0;
        return record(samples);
    }

private:
    SimulatedWaveIn& owner_;
    WaveInQueue& queue_;
    std::uint32_t id_;
    std::uint32_t rate_;
    std::uint64_t index_ = 0;
    bool started_ = false;
    bool opening_ = false;
    std::string openFailure_;
    std::string failureText_;
};

SimulatedWaveIn::SimulatedWaveIn()
    : SimulatedWaveIn(std::vector<Device>{{"Simulated input", kMono16}}) {}

SimulatedWaveIn::SimulatedWaveIn(std::vector<Device> devices)
    : devices_(std::move(devices)), source_(SampleSource::Constant(0)),
      previous_(CurrentWaveInBackend()) {
    SetWaveInBackend(this);
}

SimulatedWaveIn::~SimulatedWaveIn() {
    if (CurrentWaveInBackend() == this) SetWaveInBackend(previous_);
}

void SimulatedWaveIn::setDevices(std::vector<Device> devices) {
    devices_ = std::move(devices);
    gone_.clear();
}

void SimulatedWaveIn::failAt(Step step, MMRESULT code, int skip, std::string detail) {
    failures_.push_back({step, code, skip, std::move(detail)});
}

void SimulatedWaveIn::setSource(SampleSource source) {
    source_ = std::move(source);
}

MMRESULT SimulatedWaveIn::scripted(Step step) {
    for (auto it = failures_.begin(); it != failures_.end(); ++it) {
        if (it->step != step) continue;
        if (it->skip > 0) {
            --it->skip;
            continue;
        }
        const MMRESULT code = it->code;
        if (!it->detail.empty()) SetWaveInErrorDetail(code, it->detail);
        failures_.erase(it);
        return code;
    }
    return MMSYSERR_NOERROR;
}

bool SimulatedWaveIn::completeBuffer() {
    return stream_ && stream_->completeOne();
}

std::size_t SimulatedWaveIn::feed(std::size_t samples) {
    return stream_ ? stream_->feed(samples) : 0;
}

void SimulatedWaveIn::disappear(std::string failureText) {
    if (!stream_) return;
    if (gone_.size() <= openedId_) gone_.resize(openedId_ + 1, false);
    gone_[openedId_] = true;
    stream_->setFailureText(std::move(failureText));
    NotifyWaveInCompletion(); // a real backend wakes the program when its stream ends
}

void SimulatedWaveIn::finishOpening(std::string failure) {
    if (!stream_) return;
    stream_->finishOpening(std::move(failure));
    NotifyWaveInCompletion(); // as a real backend does, whichever way the open ended
}

bool SimulatedWaveIn::isOpening() const {
    return stream_ && stream_->opening();
}

bool SimulatedWaveIn::isStarted() const {
    return stream_ && stream_->started();
}

std::size_t SimulatedWaveIn::queuedBuffers() const {
    return stream_ ? stream_->queued() : 0;
}

std::uint32_t SimulatedWaveIn::deviceCount() {
    return static_cast<std::uint32_t>(devices_.size());
}

MMRESULT SimulatedWaveIn::deviceCaps(std::uint32_t id, WAVEINCAPSA& caps) {
    const Device& d = devices_.at(id);
    const std::size_t n = std::min(d.name.size(), sizeof caps.szPname - 1);
    std::memcpy(caps.szPname, d.name.data(), n);
    caps.dwFormats = d.formats;
    caps.wChannels = 1;
    return MMSYSERR_NOERROR;
}

MMRESULT SimulatedWaveIn::open(std::uint32_t id, const WAVEFORMATEX& format, WaveInQueue& queue,
                               std::unique_ptr<WaveInStream>& stream) {
    calls_.push_back("open " + std::to_string(id));
    if (gone_.size() > id && gone_[id]) return MMSYSERR_NODRIVER;
    if (stream_) return MMSYSERR_ALLOCATED;
    const MMRESULT r = scripted(Step::Open);
    if (r != MMSYSERR_NOERROR) return r;
    auto s = std::make_unique<Stream>(*this, queue, id, format.nSamplesPerSec);
    if (holdOpening_) s->holdOpening();
    holdOpening_ = false;
    stream_ = s.get();
    stream = std::move(s);
    ++opens_;
    openedId_ = id;
    openedFormat_ = format;
    return MMSYSERR_NOERROR;
}

} // namespace platform
