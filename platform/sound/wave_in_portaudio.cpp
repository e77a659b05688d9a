// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/sound/wave_in_portaudio.h"

#include "platform/sound/wave_in_pipe.h"
#include "platform/system/counting_semaphore.h"

#ifdef __linux__
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>

#ifdef TONVAULT_HAVE_ALSA
#include <alsa/asoundlib.h>
#endif

namespace platform {
namespace {

#ifdef __linux__
// Sends fd 2 to /dev/null for its lifetime: PortAudio's host APIs print their probing failures
// ("cannot find card", "jack server is not running") straight to stderr.
class QuietStderr {
public:
    QuietStderr() {
        std::fflush(stderr);
        saved_ = ::dup(2);
        const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (saved_ >= 0 && null >= 0) ::dup2(null, 2);
        if (null >= 0) ::close(null);
    }
    ~QuietStderr() {
        std::fflush(stderr);
        if (saved_ >= 0) {
            ::dup2(saved_, 2);
            ::close(saved_);
        }
    }
    QuietStderr(const QuietStderr&) = delete;
    QuietStderr& operator=(const QuietStderr&) = delete;

private:
    int saved_ = -1;
};

#ifdef TONVAULT_HAVE_ALSA
void IgnoreAlsaMessage(const char*, int, const char*, int, const char*, ...) {}
#endif
void IgnoreJackMessage(const char*) {}

// ALSA and JACK report through replaceable handlers; JACK's is reached through the dynamic
// linker because PortAudio brings libjack in without us linking it. Both are Linux's.
void SilenceHostApis() {
#ifdef TONVAULT_HAVE_ALSA
    snd_lib_error_set_handler(IgnoreAlsaMessage);
#endif
    using SetHandler = void (*)(void (*)(const char*));
    for (const char* name : {"jack_set_error_function", "jack_set_info_function"}) {
        if (void* symbol = ::dlsym(RTLD_DEFAULT, name))
            reinterpret_cast<SetHandler>(symbol)(IgnoreJackMessage);
    }
}

#else
// Elsewhere PortAudio's host APIs do not print while probing.
class QuietStderr {
public:
    QuietStderr() {}
};
void SilenceHostApis() {}
#endif

std::string PaText(PaError error) {
    std::string text = Pa_GetErrorText(error);
    if (error == paUnanticipatedHostError) {
        const PaHostErrorInfo* info = Pa_GetLastHostErrorInfo();
        if (info && info->errorText && *info->errorText)
            text += std::string(" (") + info->errorText + ")";
    }
    return text;
}

// The device's buffer: PortAudio's suggestion for low latency (about 12 ms here). The ALSA plugins
// of both sound servers hand a recording over in pieces of about half their buffer, so a longer
// one makes the samples, and with them the completed capture buffers, arrive in bursts: 0.2 s
// gave bursts up to 0.1 s apart.
PaStreamParameters MonoInt16(PaDeviceIndex device, double latency) {
    PaStreamParameters p{};
    p.device = device;
    p.channelCount = 1;
    p.sampleFormat = paInt16;
    p.suggestedLatency = latency;
    p.hostApiSpecificStreamInfo = nullptr;
    return p;
}

class PaStreamIn final : public WaveInStream {
public:
    PaStreamIn(WaveInQueue& queue, double deviceRate, std::uint32_t outputRate) : pipe_(queue) {
        if (!pipe_.setUp(static_cast<std::uint32_t>(std::lround(deviceRate)), outputRate))
            setUpError_ = pipe_.why();
        worker_ = std::thread([this] { work(); });
    }

    ~PaStreamIn() override {
        if (stream_) Pa_CloseStream(stream_); // aborts a running stream: no callback after this
        {
            std::lock_guard lock(mutex_);
            quit_ = true;
        }
        wake_.release();
        worker_.join();
    }

    const std::string& setUpError() const { return setUpError_; }
    void attach(PaStream* stream) {
        stream_ = stream;
        Pa_SetStreamFinishedCallback(stream_, &PaStreamIn::Finished);
    }

    // The recording thread: a copy into the pipe and, once the input that completes the front
    // header is in, one semaphore release (an atomic add and, with a waiter, one futex wake). No
    // lock, no allocation.
    static int Callback(const void* input, void*, unsigned long frames,
                        const PaStreamCallbackTimeInfo*, PaStreamCallbackFlags, void* self) {
        auto* s = static_cast<PaStreamIn*>(self);
        if (input && s->pipe_.push(static_cast<const std::int16_t*>(input), frames))
            s->wake_.release();
        return paContinue;
    }

    // PortAudio ends a stream by itself only when its device fails (the sound server went away,
    // the card was unplugged); the program is woken to look.
    static void Finished(void* self) {
        auto* s = static_cast<PaStreamIn*>(self);
        if (s->recording_.load(std::memory_order_acquire)) {
            s->ended_.store(true, std::memory_order_release);
            NotifyWaveInCompletion();
        }
    }

    MMRESULT start() override {
        {
            std::lock_guard lock(mutex_); // the callback is not running: the stream is stopped
            pipe_.reset();
            paused_ = false;
        }
        ended_.store(false, std::memory_order_release);
        recording_.store(true, std::memory_order_release);
        const PaError e = Pa_StartStream(stream_);
        if (e == paNoError) return MMSYSERR_NOERROR;
        recording_.store(false, std::memory_order_release);
        std::lock_guard lock(mutex_);
        paused_ = true;
        return WaveInResultFromPa(e, "starting the recording");
    }

    MMRESULT stop() override {
        recording_.store(false, std::memory_order_release);
        PaError e = paNoError;
        if (Pa_IsStreamStopped(stream_) != 1) {
            e = Pa_StopStream(stream_);
            if (e != paNoError) Pa_AbortStream(stream_);
        }
        std::lock_guard lock(mutex_); // waits for the worker's current batch to finish
        paused_ = true;
        return e == paNoError ? MMSYSERR_NOERROR : WaveInResultFromPa(e, "stopping the recording");
    }

    bool failed() const override {
        // A started stream that has ended, or is no longer active, has lost its device.
        if (ended_.load(std::memory_order_acquire)) return true;
        std::lock_guard lock(mutex_);
        return !paused_ && Pa_IsStreamActive(stream_) == 0;
    }

    std::string failure() const override {
        return "the recording stopped (the sound server or the device went away)";
    }

    MMRESULT close() override {
        const PaError e = Pa_CloseStream(stream_);
        stream_ = nullptr;
        return e == paNoError ? MMSYSERR_NOERROR : WaveInResultFromPa(e, "closing the device");
    }

private:
    void work() {
        for (;;) {
            wake_.acquire();
            std::lock_guard lock(mutex_);
            if (quit_) return;
            if (paused_) continue;
            pipe_.drain();
        }
    }

    PaStream* stream_ = nullptr;
    WaveInPipe pipe_; // written by the callback, drained by the worker
    std::string setUpError_;
    // Counts the wake-ups not yet looked at; the worker drains everything per wake-up, so a
    // count above one only costs empty passes.
    CountingSemaphore wake_{0};
    std::atomic<bool> recording_{false};
    std::atomic<bool> ended_{false};
    mutable std::mutex mutex_;
    bool paused_ = true;
    bool quit_ = false;
    std::thread worker_;
};

} // namespace

MMRESULT WaveInResultFromPa(PaError error, const std::string& what) {
    MMRESULT code = MMSYSERR_ERROR;
    switch (error) {
    case paInvalidSampleRate:
    case paSampleFormatNotSupported:
    case paInvalidChannelCount:
        code = WAVERR_BADFORMAT;
        break;
    case paInsufficientMemory:
        code = MMSYSERR_NOMEM;
        break;
    case paInvalidDevice:
        code = MMSYSERR_BADDEVICEID;
        break;
    case paDeviceUnavailable:
        code = MMSYSERR_ALLOCATED;
        break;
    case paNotInitialized:
        code = MMSYSERR_NODRIVER;
        break;
    default:
        break;
    }
    SetWaveInErrorDetail(code, what + ": " + PaText(error));
    return code;
}

PortAudioWaveIn::PortAudioWaveIn() {
    SilenceHostApis();
    PaError e;
    {
        QuietStderr quiet;
        e = Pa_Initialize();
    }
    if (e != paNoError) {
        initError_ = PaText(e);
        return;
    }
    initialised_ = true;
    // On Linux every sound server (PulseAudio, PipeWire) is reached through ALSA, whose
    // `default` device is the desktop's default source and comes last; JACK or OSS devices listed
    // after it must not win the highest id.
    PaHostApiIndex only = -1;
#ifdef __linux__
    only = Pa_HostApiTypeIdToHostApiIndex(paALSA);
#endif
    const PaDeviceIndex n = Pa_GetDeviceCount();
    for (PaDeviceIndex i = 0; i < n; ++i) {
        const PaDeviceInfo* info = Pa_GetDeviceInfo(i);
        if (info && info->maxInputChannels > 0 && (only < 0 || info->hostApi == only))
            inputs_.push_back(i);
    }
}

PortAudioWaveIn::~PortAudioWaveIn() {
    if (CurrentWaveInBackend() == this) SetWaveInBackend(nullptr);
    if (initialised_) {
        QuietStderr quiet; // libjack complains about its unused shared memory on the way out
        Pa_Terminate();
    }
}

std::uint32_t PortAudioWaveIn::deviceCount() {
    return static_cast<std::uint32_t>(inputs_.size());
}

MMRESULT PortAudioWaveIn::deviceCaps(std::uint32_t id, WAVEINCAPSA& caps) {
    const PaDeviceIndex device = inputs_.at(id);
    const PaDeviceInfo* info = Pa_GetDeviceInfo(device);
    if (!info) return MMSYSERR_NODRIVER;
    std::snprintf(caps.szPname, sizeof caps.szPname, "%s", info->name ? info->name : "");
    caps.wChannels = static_cast<std::uint16_t>(std::min(info->maxInputChannels, 2));
    const PaStreamParameters p = MonoInt16(device, info->defaultHighInputLatency);
    const std::pair<double, std::uint32_t> rates[] = {
        {11025.0, WAVE_FORMAT_1M16}, {22050.0, WAVE_FORMAT_2M16}, {44100.0, WAVE_FORMAT_4M16}};
    for (const auto& [rate, bit] : rates)
        if (Pa_IsFormatSupported(&p, nullptr, rate) == paFormatIsSupported) caps.dwFormats |= bit;
    return MMSYSERR_NOERROR;
}

std::string PortAudioWaveIn::deviceName(std::uint32_t id) {
    if (id >= inputs_.size()) return {};
    const PaDeviceInfo* info = Pa_GetDeviceInfo(inputs_[id]);
    return info && info->name ? info->name : "";
}

MMRESULT PortAudioWaveIn::open(std::uint32_t id, const WAVEFORMATEX& format, WaveInQueue& queue,
                               std::unique_ptr<WaveInStream>& stream) {
    const PaDeviceIndex device = inputs_.at(id);
    const PaDeviceInfo* info = Pa_GetDeviceInfo(device);
    if (!info) return WaveInResultFromPa(paInvalidDevice, "opening the device");
    const double deviceRate = info->defaultSampleRate;
    const PaStreamParameters p = MonoInt16(device, info->defaultLowInputLatency);
    auto s = std::make_unique<PaStreamIn>(queue, deviceRate, format.nSamplesPerSec);
    if (!s->setUpError().empty()) {
        SetWaveInErrorDetail(WAVERR_BADFORMAT,
                             "setting up the rate conversion: " + s->setUpError());
        return WAVERR_BADFORMAT;
    }
    PaStream* pa = nullptr;
    const PaError e = Pa_OpenStream(&pa, &p, nullptr, deviceRate, kFramesPerCallback, paNoFlag,
                                    &PaStreamIn::Callback, s.get());
    if (e != paNoError) return WaveInResultFromPa(e, "opening the device");
    s->attach(pa);
    stream = std::move(s);
    return MMSYSERR_NOERROR;
}

} // namespace platform
