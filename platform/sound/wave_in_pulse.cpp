// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/sound/wave_in_pulse.h"

#include "platform/sound/wave_in_resampler.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <vector>

namespace platform {
namespace {

constexpr pa_usec_t kConnectTimeout = 3 * PA_USEC_PER_SEC;
constexpr pa_usec_t kStreamTimeout = 5 * PA_USEC_PER_SEC;
// The rate asked for before the server fixes it to the source's own.
constexpr std::uint32_t kProvisionalRate = 44100;

// Under the loop's lock, from a thread other than the loop's: waits until done() or the
// deadline, whichever comes first. A server that accepts the connection and then says nothing
// must not hang the program.
template <class Done> bool WaitUntil(pa_threaded_mainloop* loop, Done done, pa_usec_t timeout) {
    struct Deadline {
        pa_threaded_mainloop* loop;
        bool passed;
    } deadline{loop, false};
    timeval at;
    pa_timeval_add(pa_gettimeofday(&at), timeout);
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(loop);
    pa_time_event* timer = api->time_new(
        api, &at,
        [](pa_mainloop_api*, pa_time_event*, const timeval*, void* self) {
            auto* d = static_cast<Deadline*>(self);
            d->passed = true;
            pa_threaded_mainloop_signal(d->loop, 0);
        },
        &deadline);
    while (!done() && !deadline.passed) pa_threaded_mainloop_wait(loop);
    api->time_free(timer);
    return done();
}

MMRESULT ResultFromPulse(int error, const std::string& what, const std::string& text) {
    MMRESULT code = MMSYSERR_ERROR;
    switch (error) {
    case PA_ERR_CONNECTIONREFUSED:
    case PA_ERR_CONNECTIONTERMINATED:
    case PA_ERR_TIMEOUT:
        code = MMSYSERR_NODRIVER;
        break;
    case PA_ERR_NOENTITY:
        code = MMSYSERR_BADDEVICEID;
        break;
    case PA_ERR_ACCESS:
    case PA_ERR_BUSY:
        code = MMSYSERR_ALLOCATED;
        break;
    case PA_ERR_NOTSUPPORTED:
    case PA_ERR_INVALID:
        code = WAVERR_BADFORMAT;
        break;
    default:
        break;
    }
    SetWaveInErrorDetail(code, what + ": " + text);
    return code;
}

// The context's last failure, as a result code with libpulse's words for it.
MMRESULT ResultFromContext(pa_context* context, const std::string& what) {
    const int error = pa_context_errno(context);
    return ResultFromPulse(error, what, pa_strerror(error));
}

void SignalLoop(pa_threaded_mainloop* loop) {
    pa_threaded_mainloop_signal(loop, 0);
}

// An operation we do not wait for: its result shows as the stream's state.
bool Fire(pa_operation* operation) {
    if (!operation) return false;
    pa_operation_unref(operation);
    return true;
}

class PulseStreamIn final : public WaveInStream {
public:
    PulseStreamIn(pa_threaded_mainloop* loop, pa_context* context, WaveInQueue& queue)
        : loop_(loop), context_(pa_context_ref(context)), queue_(queue) {}

    ~PulseStreamIn() override {
        pa_threaded_mainloop_lock(loop_);
        release();
        pa_context_unref(context_);
        pa_threaded_mainloop_unlock(loop_);
    }

    // Under the lock: records the default source at its own rate, corked until start().
    MMRESULT connect(std::uint32_t outputRate) {
        pa_sample_spec spec{PA_SAMPLE_S16NE, kProvisionalRate, 1};
        stream_ = pa_stream_new(context_, "Tonvault", &spec, nullptr);
        if (!stream_) return ResultFromContext(context_, "opening the recording");
        pa_stream_set_state_callback(stream_, &PulseStreamIn::OnState, this);
        pa_stream_set_read_callback(stream_, &PulseStreamIn::OnReadable, this);
        pa_buffer_attr attr;
        attr.maxlength = static_cast<std::uint32_t>(-1);
        attr.tlength = attr.prebuf = attr.minreq = static_cast<std::uint32_t>(-1);
        attr.fragsize = static_cast<std::uint32_t>(
            pa_usec_to_bytes(static_cast<pa_usec_t>(PulseWaveIn::kFragmentSeconds * 1e6), &spec));
        // The source's own rate, so that the one conversion is ours; the server only mixes the
        // channels down to one.
        const auto flags = static_cast<pa_stream_flags_t>(
            PA_STREAM_ADJUST_LATENCY | PA_STREAM_FIX_RATE | PA_STREAM_START_CORKED);
        if (pa_stream_connect_record(stream_, nullptr, &attr, flags) < 0)
            return ResultFromContext(context_, "opening the recording");
        const auto settled = [this] {
            const pa_stream_state_t s = pa_stream_get_state(stream_);
            return s == PA_STREAM_READY || !PA_STREAM_IS_GOOD(s);
        };
        if (!WaitUntil(loop_, settled, kStreamTimeout))
            return ResultFromPulse(PA_ERR_TIMEOUT, "opening the recording",
                                   "the sound server did not answer");
        if (pa_stream_get_state(stream_) != PA_STREAM_READY)
            return ResultFromContext(context_, "opening the recording");
        const std::uint32_t rate = pa_stream_get_sample_spec(stream_)->rate;
        if (rate != outputRate) {
            convert_ = true;
            if (!resampler_.setUp(rate, outputRate)) {
                SetWaveInErrorDetail(WAVERR_BADFORMAT,
                                     "setting up the rate conversion: " + resampler_.why());
                return WAVERR_BADFORMAT;
            }
            out_.resize(resampler_.outputFor(kChunk));
            pending_.resize(2 * static_cast<std::size_t>(rate)); // 2 s
        }
        return MMSYSERR_NOERROR;
    }

    MMRESULT start() override {
        pa_threaded_mainloop_lock(loop_);
        MMRESULT result = MMSYSERR_NOERROR;
        if (!stream_ || pa_stream_get_state(stream_) != PA_STREAM_READY) {
            result = ResultFromPulse(PA_ERR_CONNECTIONTERMINATED, "starting the recording",
                                     "the sound server went away");
        } else {
            recording_ = false;
            take(); // what arrived before the last stop belongs to that recording
            pendingCount_ = 0;
            if (convert_) resampler_.reset();
            recording_ = true;
            if (!Fire(pa_stream_cork(stream_, 0, nullptr, nullptr))) {
                recording_ = false;
                result = ResultFromContext(context_, "starting the recording");
            }
        }
        pa_threaded_mainloop_unlock(loop_);
        return result;
    }

    MMRESULT stop() override {
        pa_threaded_mainloop_lock(loop_);
        // Nothing more reaches the queue once the lock is given back: the callbacks hold it.
        recording_ = false;
        if (stream_ && pa_stream_get_state(stream_) == PA_STREAM_READY)
            Fire(pa_stream_cork(stream_, 1, nullptr, nullptr));
        pa_threaded_mainloop_unlock(loop_);
        return MMSYSERR_NOERROR;
    }

    bool failed() const override { return ended_.load(std::memory_order_acquire); }

    std::string failure() const override {
        return "the recording stopped (the sound server or the device went away)";
    }

    MMRESULT close() override {
        pa_threaded_mainloop_lock(loop_);
        release();
        pa_threaded_mainloop_unlock(loop_);
        return MMSYSERR_NOERROR;
    }

private:
    static constexpr std::size_t kChunk = 1024;

    void release() {
        if (!stream_) return;
        pa_stream_set_state_callback(stream_, nullptr, nullptr);
        pa_stream_set_read_callback(stream_, nullptr, nullptr);
        pa_stream_disconnect(stream_);
        pa_stream_unref(stream_);
        stream_ = nullptr;
    }

    // The loop's thread, with the lock held.
    static void OnState(pa_stream* stream, void* self) {
        auto* s = static_cast<PulseStreamIn*>(self);
        if (!PA_STREAM_IS_GOOD(pa_stream_get_state(stream))) {
            s->ended_.store(true, std::memory_order_release);
            if (s->recording_) NotifyWaveInCompletion(); // the program is woken to look
        }
        SignalLoop(s->loop_);
    }

    static void OnReadable(pa_stream*, size_t, void* self) {
        static_cast<PulseStreamIn*>(self)->take();
    }

    // Everything readable is taken; without a recording it is dropped. No allocation: the
    // buffers were sized when the stream was opened.
    void take() {
        const void* data = nullptr;
        std::size_t bytes = 0;
        while (pa_stream_peek(stream_, &data, &bytes) == 0 && bytes > 0) {
            // A hole (data lost on the server's side) comes without data: nothing to convert.
            if (data && recording_)
                keep(static_cast<const std::int16_t*>(data), bytes / sizeof(std::int16_t));
            pa_stream_drop(stream_);
        }
        if (recording_ && convert_) convertWhenDue();
    }

    void keep(const std::int16_t* samples, std::size_t count) {
        if (!convert_) {
            queue_.deliver(samples, count * sizeof(std::int16_t));
            return;
        }
        const std::size_t n = std::min(count, pending_.size() - pendingCount_);
        std::copy_n(samples, n, pending_.data() + pendingCount_);
        pendingCount_ += n;
    }

    // The conversion waits for the input that completes the front header (or for half its
    // buffer), so each header is still handed on within one fragment of its last sample. Done a
    // fragment at a time it cost twice as much: between fragments the other programs push the
    // converter's table out of the caches. Without a header every fragment is converted, as
    // bytes with nowhere to go are dropped, not kept for a header queued later.
    void convertWhenDue() {
        std::size_t needed = 1;
        if (const std::size_t bytes = queue_.bytesToNextCompletion())
            needed = resampler_.inputFor((bytes + 1) / sizeof(std::int16_t));
        if (pendingCount_ < std::clamp<std::size_t>(needed, 1, pending_.size() / 2)) return;
        for (std::size_t done = 0; done < pendingCount_;) {
            const std::size_t n = std::min(pendingCount_ - done, kChunk);
            const std::size_t produced =
                resampler_.process(pending_.data() + done, n, out_.data(), out_.size());
            if (produced) queue_.deliver(out_.data(), produced * sizeof(std::int16_t));
            done += n;
        }
        pendingCount_ = 0;
    }

    pa_threaded_mainloop* loop_;
    pa_context* context_;
    WaveInQueue& queue_;
    pa_stream* stream_ = nullptr;
    bool convert_ = false;
    WaveInResampler resampler_;
    std::vector<std::int16_t> out_;
    std::vector<std::int16_t> pending_; // the device's samples not yet converted
    std::size_t pendingCount_ = 0;
    bool recording_ = false; // under the loop's lock
    std::atomic<bool> ended_{false};
};

void OnContextState(pa_context*, void* loop) {
    SignalLoop(static_cast<pa_threaded_mainloop*>(loop));
}

} // namespace

PulseWaveIn::PulseWaveIn() {
    loop_ = pa_threaded_mainloop_new();
    if (!loop_ || pa_threaded_mainloop_start(loop_) < 0) {
        if (loop_) pa_threaded_mainloop_free(loop_);
        loop_ = nullptr;
        initError_ = "libpulse could not start its thread";
        return;
    }
    pa_threaded_mainloop_lock(loop_);
    available_ = connect(initError_);
    if (available_) {
        const auto done = [](pa_context*, const pa_server_info* info, void* self) {
            auto* me = static_cast<PulseWaveIn*>(self);
            // PipeWire calls itself "PulseAudio (on PipeWire 0.3.65)": the name must fit the
            // device's 31 characters.
            if (info && info->server_name) {
                const std::string name = info->server_name;
                me->serverName_ =
                    name.find("PipeWire") != std::string::npos ? std::string("PipeWire") : name;
            }
            SignalLoop(me->loop_);
        };
        if (pa_operation* op = pa_context_get_server_info(context_, done, this)) {
            WaitUntil(
                loop_, [op] { return pa_operation_get_state(op) != PA_OPERATION_RUNNING; },
                kConnectTimeout);
            pa_operation_cancel(op);
            pa_operation_unref(op);
        }
    }
    pa_threaded_mainloop_unlock(loop_);
}

PulseWaveIn::~PulseWaveIn() {
    if (CurrentWaveInBackend() == this) SetWaveInBackend(nullptr);
    if (!loop_) return;
    pa_threaded_mainloop_lock(loop_);
    if (context_) {
        pa_context_set_state_callback(context_, nullptr, nullptr);
        pa_context_disconnect(context_);
        pa_context_unref(context_);
        context_ = nullptr;
    }
    pa_threaded_mainloop_unlock(loop_);
    pa_threaded_mainloop_stop(loop_);
    pa_threaded_mainloop_free(loop_);
}

bool PulseWaveIn::connect(std::string& why) {
    if (context_ && pa_context_get_state(context_) == PA_CONTEXT_READY) return true;
    if (context_) {
        pa_context_set_state_callback(context_, nullptr, nullptr);
        pa_context_disconnect(context_);
        pa_context_unref(context_);
    }
    context_ = pa_context_new(pa_threaded_mainloop_get_api(loop_), "Tonvault");
    if (!context_) {
        why = "libpulse could not make a connection";
        return false;
    }
    pa_context_set_state_callback(context_, &OnContextState, loop_);
    if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        why = pa_strerror(pa_context_errno(context_));
        return false;
    }
    const auto settled = [this] {
        const pa_context_state_t s = pa_context_get_state(context_);
        return s == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(s);
    };
    if (!WaitUntil(loop_, settled, kConnectTimeout)) {
        why = "the sound server did not answer";
        return false;
    }
    if (pa_context_get_state(context_) != PA_CONTEXT_READY) {
        why = pa_strerror(pa_context_errno(context_));
        return false;
    }
    return true;
}

std::uint32_t PulseWaveIn::deviceCount() {
    return available_ ? 1 : 0;
}

MMRESULT PulseWaveIn::deviceCaps(std::uint32_t id, WAVEINCAPSA& caps) {
    if (!available_ || id != 0) return MMSYSERR_BADDEVICEID;
    const std::string name =
        serverName_.empty() ? "Default source" : "Default source (" + serverName_ + ")";
    std::snprintf(caps.szPname, sizeof caps.szPname, "%s", name.c_str());
    // Always recorded as one channel: the server mixes the source's channels down, at any rate.
    caps.wChannels = 1;
    caps.dwFormats = WAVE_FORMAT_1M16 | WAVE_FORMAT_2M16 | WAVE_FORMAT_4M16;
    return MMSYSERR_NOERROR;
}

MMRESULT PulseWaveIn::open(std::uint32_t id, const WAVEFORMATEX& format, WaveInQueue& queue,
                           std::unique_ptr<WaveInStream>& stream) {
    if (!available_ || id != 0) return MMSYSERR_BADDEVICEID;
    pa_threaded_mainloop_lock(loop_);
    std::string why;
    if (!connect(why)) {
        pa_threaded_mainloop_unlock(loop_);
        return ResultFromPulse(PA_ERR_CONNECTIONREFUSED, "reaching the sound server", why);
    }
    auto s = std::make_unique<PulseStreamIn>(loop_, context_, queue);
    const MMRESULT result = s->connect(format.nSamplesPerSec);
    pa_threaded_mainloop_unlock(loop_);
    // A stream that did not open is released (under the lock) as it goes.
    if (result == MMSYSERR_NOERROR) stream = std::move(s);
    return result;
}

} // namespace platform
