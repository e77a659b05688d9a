#include "platform/wave_in_portaudio.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <semaphore.h>
#include <soxr.h>
#include <unistd.h>

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
// linker because PortAudio brings libjack in without us linking it.
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

std::string PaText(PaError error) {
    std::string text = Pa_GetErrorText(error);
    if (error == paUnanticipatedHostError) {
        const PaHostErrorInfo* info = Pa_GetLastHostErrorInfo();
        if (info && info->errorText && *info->errorText)
            text += std::string(" (") + info->errorText + ")";
    }
    return text;
}

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
    PaStreamIn(WaveInQueue& queue, double deviceRate, double outputRate)
        : queue_(queue), in_(kChunk) {
        std::size_t capacity = 1;
        while (capacity < static_cast<std::size_t>(deviceRate * 2)) capacity <<= 1; // ~2 s
        ring_.assign(capacity, 0);
        if (std::lround(deviceRate) != std::lround(outputRate)) {
            ratio_ = outputRate / deviceRate;
            const soxr_io_spec_t io = soxr_io_spec(SOXR_INT16_I, SOXR_INT16_I);
            const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
            const soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
            soxr_error_t error = nullptr;
            soxr_ = soxr_create(deviceRate, outputRate, 1, &error, &io, &quality, &runtime);
            if (error) {
                soxrError_ = error;
                soxr_ = nullptr;
            }
        }
        out_.resize(static_cast<std::size_t>(std::ceil(kChunk * ratio_)) + 256);
        ::sem_init(&wake_, 0, 0);
        worker_ = std::thread([this] { work(); });
    }

    ~PaStreamIn() override {
        if (stream_) Pa_CloseStream(stream_); // aborts a running stream: no callback after this
        {
            std::lock_guard lock(mutex_);
            quit_ = true;
        }
        ::sem_post(&wake_);
        worker_.join();
        ::sem_destroy(&wake_);
        if (soxr_) soxr_delete(soxr_);
    }

    const char* soxrError() const { return soxrError_; }
    void attach(PaStream* stream) { stream_ = stream; }

    static int Callback(const void* input, void*, unsigned long frames,
                        const PaStreamCallbackTimeInfo*, PaStreamCallbackFlags, void* self) {
        if (input)
            static_cast<PaStreamIn*>(self)->push(static_cast<const std::int16_t*>(input), frames);
        return paContinue;
    }

    MMRESULT start() override {
        {
            std::lock_guard lock(mutex_); // the callback is not running: the stream is stopped
            readPos_.store(0, std::memory_order_relaxed);
            writePos_.store(0, std::memory_order_relaxed);
            if (soxr_) soxr_clear(soxr_);
            paused_ = false;
        }
        const PaError e = Pa_StartStream(stream_);
        if (e == paNoError) return MMSYSERR_NOERROR;
        std::lock_guard lock(mutex_);
        paused_ = true;
        return WaveInResultFromPa(e, "starting the recording");
    }

    MMRESULT stop() override {
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
        // A started stream that is no longer active has lost its device.
        std::lock_guard lock(mutex_);
        return !paused_ && Pa_IsStreamActive(stream_) == 0;
    }

    MMRESULT close() override {
        const PaError e = Pa_CloseStream(stream_);
        stream_ = nullptr;
        return e == paNoError ? MMSYSERR_NOERROR : WaveInResultFromPa(e, "closing the device");
    }

private:
    static constexpr std::size_t kChunk = 1024;

    // Recording thread: copy into the ring, drop what does not fit, wake the worker.
    void push(const std::int16_t* samples, unsigned long frames) {
        const std::size_t write = writePos_.load(std::memory_order_relaxed);
        const std::size_t read = readPos_.load(std::memory_order_acquire);
        const std::size_t room = ring_.size() - (write - read);
        const std::size_t n = std::min<std::size_t>(frames, room);
        const std::size_t mask = ring_.size() - 1;
        for (std::size_t i = 0; i < n; ++i) ring_[(write + i) & mask] = samples[i];
        writePos_.store(write + n, std::memory_order_release);
        ::sem_post(&wake_);
    }

    void work() {
        for (;;) {
            while (::sem_wait(&wake_) != 0 && errno == EINTR) {
            }
            std::lock_guard lock(mutex_);
            if (quit_) return;
            if (paused_) continue;
            drain();
        }
    }

    void drain() {
        const std::size_t mask = ring_.size() - 1;
        for (;;) {
            const std::size_t read = readPos_.load(std::memory_order_relaxed);
            const std::size_t write = writePos_.load(std::memory_order_acquire);
            const std::size_t n = std::min(write - read, kChunk);
            if (n == 0) return;
            for (std::size_t i = 0; i < n; ++i) in_[i] = ring_[(read + i) & mask];
            readPos_.store(read + n, std::memory_order_release);
            if (!soxr_) {
                queue_.deliver(in_.data(), n * sizeof(std::int16_t));
                continue;
            }
            std::size_t offered = 0;
            while (offered < n) {
                std::size_t used = 0, produced = 0;
                soxr_process(soxr_, in_.data() + offered, n - offered, &used, out_.data(),
                             out_.size(), &produced);
                offered += used;
                if (produced) queue_.deliver(out_.data(), produced * sizeof(std::int16_t));
                if (used == 0 && produced == 0) break;
            }
        }
    }

    WaveInQueue& queue_;
    PaStream* stream_ = nullptr;
    std::vector<std::int16_t> ring_;
    std::atomic<std::size_t> writePos_{0};
    std::atomic<std::size_t> readPos_{0};
    std::vector<std::int16_t> in_;
    std::vector<std::int16_t> out_;
    double ratio_ = 1.0;
    soxr_t soxr_ = nullptr;
    const char* soxrError_ = nullptr;
    sem_t wake_;
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
    const PaDeviceIndex n = Pa_GetDeviceCount();
    for (PaDeviceIndex i = 0; i < n; ++i) {
        const PaDeviceInfo* info = Pa_GetDeviceInfo(i);
        if (info && info->maxInputChannels > 0) inputs_.push_back(i);
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

MMRESULT PortAudioWaveIn::open(std::uint32_t id, const WAVEFORMATEX& format, WaveInQueue& queue,
                               std::unique_ptr<WaveInStream>& stream) {
    const PaDeviceIndex device = inputs_.at(id);
    const PaDeviceInfo* info = Pa_GetDeviceInfo(device);
    if (!info) return WaveInResultFromPa(paInvalidDevice, "opening the device");
    const double deviceRate = info->defaultSampleRate;
    const PaStreamParameters p = MonoInt16(device, info->defaultHighInputLatency);
    auto s = std::make_unique<PaStreamIn>(queue, deviceRate, format.nSamplesPerSec);
    if (s->soxrError()) {
        SetWaveInErrorDetail(MMSYSERR_ERROR,
                             std::string("setting up the rate conversion: ") + s->soxrError());
        return MMSYSERR_ERROR;
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
