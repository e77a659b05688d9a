// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/sound/wave_in_winmm.h"

#include "platform/sound/wave_in_pipe.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <iterator>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

// After the layer's own headers: windows.h defines the result codes and flags as macros (with the
// same values), which would otherwise rewrite the layer's declarations of them.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <mmsystem.h>

namespace platform {
namespace {

// Rates sound devices commonly take, in the order they are tried after the one asked for.
constexpr std::uint32_t kUsualRates[] = {48000, 44100, 96000, 88200, 192000,
                                         32000, 22050, 16000, 11025, 8000};

// winmm's own text for a result code, without its closing full stop (the layer adds one).
std::string WinmmText(::MMRESULT result) {
    char text[MAXERRORLENGTH] = {};
    if (::waveInGetErrorTextA(result, text, sizeof text) != MMSYSERR_NOERROR || !*text)
        return "error " + std::to_string(result);
    std::string s = text;
    while (!s.empty() && (s.back() == '.' || s.back() == ' ')) s.pop_back();
    return s;
}

// winmm's codes share the layer's values; those the layer has no words for become a general
// error, with winmm's own words in the detail.
platform::MMRESULT LayerCode(::MMRESULT result) {
    switch (result) {
    case MMSYSERR_NOERROR:
    case MMSYSERR_ERROR:
    case MMSYSERR_BADDEVICEID:
    case MMSYSERR_ALLOCATED:
    case MMSYSERR_INVALHANDLE:
    case MMSYSERR_NODRIVER:
    case MMSYSERR_NOMEM:
    case MMSYSERR_NOTSUPPORTED:
    case MMSYSERR_BADERRNUM:
    case MMSYSERR_INVALFLAG:
    case MMSYSERR_INVALPARAM:
    case WAVERR_BADFORMAT:
    case WAVERR_STILLPLAYING:
    case WAVERR_UNPREPARED:
        return result;
    default:
        return MMSYSERR_ERROR;
    }
}

// A winmm failure as the layer's result, with winmm's text recorded as the call's detail.
platform::MMRESULT Refused(::MMRESULT result, const std::string& what) {
    const platform::MMRESULT code = LayerCode(result);
    SetWaveInErrorDetail(code, what + ": " + WinmmText(result));
    return code;
}

::WAVEFORMATEX Mono16(std::uint32_t rate) {
    ::WAVEFORMATEX f{};
    f.wFormatTag = WAVE_FORMAT_PCM;
    f.nChannels = 1;
    f.nSamplesPerSec = rate;
    f.wBitsPerSample = 16;
    f.nBlockAlign = 2;
    f.nAvgBytesPerSec = 2 * rate;
    f.cbSize = 0;
    return f;
}

// A device's UTF-16 name (MAXPNAMELEN characters, not always terminated) as UTF-8, cut at a
// character boundary to fit `size` bytes with its terminator.
void CopyName(const WCHAR (&name)[MAXPNAMELEN], char* out, std::size_t size) {
    out[0] = '\0';
    WCHAR terminated[MAXPNAMELEN + 1] = {};
    std::copy(std::begin(name), std::end(name), terminated);
    char utf8[4 * (MAXPNAMELEN + 1)] = {};
    const int n =
        ::WideCharToMultiByte(CP_UTF8, 0, terminated, -1, utf8, sizeof utf8, nullptr, nullptr);
    if (n <= 0) return;
    std::size_t length = std::strlen(utf8);
    if (length >= size) {
        length = size - 1;
        while (length > 0 && (static_cast<unsigned char>(utf8[length]) & 0xC0) == 0x80) --length;
    }
    std::memcpy(out, utf8, length);
    out[length] = '\0';
}

// The device's buffers and their headers, which winmm holds on to while they are queued. They
// live apart from the stream so that a device winmm will not let go of can keep them.
struct DeviceBuffers {
    std::vector<std::int16_t> samples;
    ::WAVEHDR headers[WinmmWaveIn::kBuffers] = {};
};

class WinmmStream final : public WaveInStream {
public:
    WinmmStream(WaveInQueue& queue, std::uint32_t deviceRate, std::uint32_t outputRate)
        : pipe_(queue), deviceRate_(deviceRate), frames_(WinmmFramesPerBuffer(deviceRate)) {
        if (!pipe_.setUp(deviceRate, outputRate)) setUpError_ = pipe_.why();
        buffers_ = std::make_unique<DeviceBuffers>();
        buffers_->samples.assign(static_cast<std::size_t>(frames_) * WinmmWaveIn::kBuffers, 0);
    }

    ~WinmmStream() override {
        close();
        if (event_) ::CloseHandle(event_);
    }

    const std::string& setUpError() const { return setUpError_; }

    // Opens the device at the stream's rate and prepares its buffers.
    platform::MMRESULT openDevice(UINT id) {
        event_ = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
        if (!event_) {
            SetWaveInErrorDetail(MMSYSERR_NOMEM, "no event could be made for the device");
            return MMSYSERR_NOMEM;
        }
        const ::WAVEFORMATEX format = Mono16(deviceRate_);
        ::HWAVEIN wave = nullptr;
        const ::MMRESULT r = ::waveInOpen(&wave, id, &format, reinterpret_cast<DWORD_PTR>(event_),
                                          0, CALLBACK_EVENT);
        if (r != MMSYSERR_NOERROR)
            return Refused(r,
                           "opening it at " + std::to_string(deviceRate_) + " samples per second");
        wave_ = wave;
        for (std::uint32_t i = 0; i < WinmmWaveIn::kBuffers; ++i) {
            ::WAVEHDR& h = buffers_->headers[i];
            h.lpData = reinterpret_cast<LPSTR>(&buffers_->samples[std::size_t{i} * frames_]);
            h.dwBufferLength = frames_ * 2;
            const ::MMRESULT p = ::waveInPrepareHeader(wave_, &h, sizeof h);
            if (p != MMSYSERR_NOERROR) {
                const platform::MMRESULT code = Refused(p, "preparing its buffers");
                close();
                return code;
            }
        }
        return MMSYSERR_NOERROR;
    }

    platform::MMRESULT start() override {
        if (failed()) return refuseFailed();
        pipe_.reset(); // the worker is not running
        next_ = 0;
        // After a reset every buffer is back and done: they are queued again in ring order.
        for (::WAVEHDR& h : buffers_->headers) {
            if (Flags(h) & WHDR_INQUEUE) continue;
            h.dwBytesRecorded = 0;
            const ::MMRESULT r = ::waveInAddBuffer(wave_, &h, sizeof h);
            if (r != MMSYSERR_NOERROR) return Refused(r, "queueing its buffers");
        }
        ::ResetEvent(event_);
        quit_.store(false, std::memory_order_release);
        try {
            worker_ = std::thread([this] { work(); });
        } catch (const std::system_error&) {
            ::waveInReset(wave_);
            SetWaveInErrorDetail(MMSYSERR_NOMEM, "no recording thread could be started");
            return MMSYSERR_NOMEM;
        }
        const ::MMRESULT r = ::waveInStart(wave_);
        if (r != MMSYSERR_NOERROR) {
            stopWorker();
            ::waveInReset(wave_);
            return Refused(r, "starting the recording");
        }
        return MMSYSERR_NOERROR;
    }

    platform::MMRESULT stop() override {
        // The worker goes first, so nothing reaches the program's headers after this returns.
        stopWorker();
        const ::MMRESULT r = ::waveInReset(wave_);
        if (r == MMSYSERR_NOERROR) return MMSYSERR_NOERROR;
        // A device that cannot be stopped keeps its buffers: it is of no further use.
        fail(r);
        return Refused(r, "stopping the recording");
    }

    // Queueing a header of the program's is refused once the device has failed, so the program
    // hears of it at once rather than after the stall rule's wait.
    platform::MMRESULT add(platform::WAVEHDR&) override {
        return failed() ? refuseFailed() : MMSYSERR_NOERROR;
    }

    bool failed() const override { return failedCode_.load(std::memory_order_acquire) != 0; }

    std::string failure() const override {
        const ::MMRESULT code = failedCode_.load(std::memory_order_acquire);
        return "the device stopped recording (" + WinmmText(code) + ")";
    }

    platform::MMRESULT close() override {
        stopWorker();
        if (!wave_) return MMSYSERR_NOERROR;
        ::waveInReset(wave_);
        for (::WAVEHDR& h : buffers_->headers)
            if (Flags(h) & WHDR_PREPARED) ::waveInUnprepareHeader(wave_, &h, sizeof h);
        ::MMRESULT r = ::waveInClose(wave_);
        if (r == WAVERR_STILLPLAYING) {
            ::waveInReset(wave_);
            r = ::waveInClose(wave_);
        }
        if (r != MMSYSERR_NOERROR) {
            // winmm still holds the buffers and may still signal the event: both are left to it.
            buffers_.release();
            event_ = nullptr;
        }
        wave_ = nullptr;
        return r == MMSYSERR_NOERROR ? MMSYSERR_NOERROR : Refused(r, "closing the device");
    }

private:
    static std::uint32_t Flags(::WAVEHDR& h) {
        // winmm marks a buffer done on its own thread; the acquire load makes its data visible.
        return std::atomic_ref<DWORD>(h.dwFlags).load(std::memory_order_acquire);
    }

    platform::MMRESULT refuseFailed() const {
        SetWaveInErrorDetail(MMSYSERR_NODRIVER, failure());
        return MMSYSERR_NODRIVER;
    }

    void fail(::MMRESULT code) {
        ::MMRESULT none = 0;
        failedCode_.compare_exchange_strong(none, code == 0 ? MMSYSERR_ERROR : code,
                                            std::memory_order_acq_rel);
    }

    void stopWorker() {
        if (!worker_.joinable()) return;
        quit_.store(true, std::memory_order_release);
        ::SetEvent(event_);
        worker_.join();
    }

    // The recording thread: no lock, no allocation. winmm fills the buffers in the order they
    // were queued, so the next one in the ring is always the next to complete.
    void work() {
        ::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_HIGHEST);
        while (!quit_.load(std::memory_order_acquire)) {
            ::WaitForSingleObject(event_, INFINITE);
            while (!quit_.load(std::memory_order_acquire)) {
                ::WAVEHDR& h = buffers_->headers[next_];
                if (!(Flags(h) & WHDR_DONE)) break;
                // The worker both fills the pipe and drains it.
                if (pipe_.push(reinterpret_cast<const std::int16_t*>(h.lpData),
                               h.dwBytesRecorded / sizeof(std::int16_t)))
                    pipe_.drain();
                h.dwBytesRecorded = 0;
                const ::MMRESULT r = ::waveInAddBuffer(wave_, &h, sizeof h);
                if (r != MMSYSERR_NOERROR) {
                    fail(r);
                    NotifyWaveInCompletion(); // the program looks, and finds the device failed
                    return;
                }
                next_ = (next_ + 1) % WinmmWaveIn::kBuffers;
            }
        }
    }

    WaveInPipe pipe_;
    const std::uint32_t deviceRate_;
    const std::uint32_t frames_;
    std::string setUpError_;
    std::unique_ptr<DeviceBuffers> buffers_;
    ::HWAVEIN wave_ = nullptr;
    HANDLE event_ = nullptr;
    std::thread worker_;
    std::atomic<bool> quit_{false};
    std::atomic<::MMRESULT> failedCode_{0};
    std::uint32_t next_ = 0; // worker-owned while recording
};

} // namespace

std::uint32_t WinmmFramesPerBuffer(std::uint32_t rate) {
    const auto frames = static_cast<std::uint32_t>(std::lround(rate * WinmmWaveIn::kBufferSeconds));
    return std::max(frames, WinmmWaveIn::kMinFramesPerBuffer);
}

platform::MMRESULT OpenAtTakenRate(std::uint32_t asked,
                                   const std::function<platform::MMRESULT(std::uint32_t)>& tryRate,
                                   std::uint32_t& opened) {
    opened = 0;
    platform::MMRESULT r = tryRate(asked);
    if (r != WAVERR_BADFORMAT) {
        if (r == MMSYSERR_NOERROR) opened = asked;
        return r;
    }
    // Higher rates in the usual order (the common ones first), then lower ones from the highest
    // down, so that as much of the asked band as possible survives.
    std::uint32_t order[std::size(kUsualRates)] = {};
    std::size_t n = 0;
    for (const std::uint32_t rate : kUsualRates)
        if (rate > asked) order[n++] = rate;
    const std::size_t higher = n;
    for (const std::uint32_t rate : kUsualRates)
        if (rate < asked) order[n++] = rate;
    std::sort(order + higher, order + n, std::greater<>());
    std::string tried = std::to_string(asked);
    for (std::size_t i = 0; i < n; ++i) {
        r = tryRate(order[i]);
        if (r == MMSYSERR_NOERROR) opened = order[i];
        if (r != WAVERR_BADFORMAT) return r;
        tried += ", " + std::to_string(order[i]);
    }
    SetWaveInErrorDetail(WAVERR_BADFORMAT, "the device takes 16-bit mono sound at none of " +
                                               tried + " samples per second");
    return WAVERR_BADFORMAT;
}

WinmmWaveIn::WinmmWaveIn(std::uint32_t recordRate) : recordRate_(recordRate) {}

WinmmWaveIn::~WinmmWaveIn() {
    if (CurrentWaveInBackend() == this) SetWaveInBackend(nullptr);
}

std::uint32_t WinmmWaveIn::deviceCount() {
    return ::waveInGetNumDevs();
}

platform::MMRESULT WinmmWaveIn::deviceCaps(std::uint32_t id, platform::WAVEINCAPSA& caps) {
    ::WAVEINCAPSW w{};
    const ::MMRESULT r = ::waveInGetDevCapsW(id, &w, sizeof w);
    if (r != MMSYSERR_NOERROR)
        return Refused(r, "asking device " + std::to_string(id) + " about itself");
    caps.wMid = w.wMid;
    caps.wPid = w.wPid;
    caps.vDriverVersion = w.vDriverVersion;
    CopyName(w.szPname, caps.szPname, sizeof caps.szPname);
    caps.dwFormats = w.dwFormats;
    caps.wChannels = w.wChannels;
    return MMSYSERR_NOERROR;
}

platform::MMRESULT WinmmWaveIn::open(std::uint32_t id, const platform::WAVEFORMATEX& format,
                                     WaveInQueue& queue, std::unique_ptr<WaveInStream>& stream) {
    const std::uint32_t asked = recordRate_ ? recordRate_ : format.nSamplesPerSec;
    std::unique_ptr<WinmmStream> opened;
    const auto tryRate = [&](std::uint32_t rate) -> platform::MMRESULT {
        auto s = std::make_unique<WinmmStream>(queue, rate, format.nSamplesPerSec);
        if (!s->setUpError().empty()) {
            SetWaveInErrorDetail(WAVERR_BADFORMAT, "converting from " + std::to_string(rate) +
                                                       " samples per second: " + s->setUpError());
            return WAVERR_BADFORMAT;
        }
        const platform::MMRESULT r = s->openDevice(id);
        if (r == MMSYSERR_NOERROR) opened = std::move(s);
        return r;
    };
    std::uint32_t rate = 0;
    const platform::MMRESULT r = OpenAtTakenRate(asked, tryRate, rate);
    if (r != MMSYSERR_NOERROR) return r;
    stream = std::move(opened);
    return MMSYSERR_NOERROR;
}

} // namespace platform
