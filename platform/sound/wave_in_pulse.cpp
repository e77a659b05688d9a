// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/sound/wave_in_pulse.h"

#include "platform/sound/wave_in_pipe.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <vector>

namespace platform {
namespace {

// Only the first connection, made before the window, is waited for.
constexpr pa_usec_t kConnectTimeout = 3 * PA_USEC_PER_SEC;
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

MMRESULT CodeFromPulse(int error) {
    switch (error) {
    case PA_ERR_CONNECTIONREFUSED:
    case PA_ERR_CONNECTIONTERMINATED:
    case PA_ERR_TIMEOUT:
        return MMSYSERR_NODRIVER;
    case PA_ERR_NOENTITY:
        return MMSYSERR_BADDEVICEID;
    case PA_ERR_ACCESS:
    case PA_ERR_BUSY:
        return MMSYSERR_ALLOCATED;
    case PA_ERR_NOTSUPPORTED:
    case PA_ERR_INVALID:
        return WAVERR_BADFORMAT;
    default:
        return MMSYSERR_ERROR;
    }
}

MMRESULT ResultFromPulse(int error, const std::string& what, const std::string& text) {
    const MMRESULT code = CodeFromPulse(error);
    SetWaveInErrorDetail(code, what + ": " + text);
    return code;
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

} // namespace

// One recording. It is asked of the server when the connection is ready (at once, or when a new
// connection comes up) and records from the moment both the server has made it and the program
// has started it. Its first failure is the one it reports.
class PulseWaveIn::Stream final : public WaveInStream {
public:
    Stream(PulseWaveIn& owner, WaveInQueue& queue, std::string key, std::string name,
           std::uint32_t outputRate)
        : owner_(owner), loop_(owner.loop_), pipe_(queue), key_(std::move(key)),
          outputRate_(outputRate), name_(std::move(name)) {}

    ~Stream() override {
        pa_threaded_mainloop_lock(loop_);
        forget();
        release();
        pa_threaded_mainloop_unlock(loop_);
    }

    // Under the lock, with the owner's connection ready: asks the server for the recording,
    // corked until start(). False (and failed) when libpulse refuses at once.
    bool request() {
        context_ = pa_context_ref(owner_.context_);
        pa_sample_spec spec{PA_SAMPLE_S16NE, kProvisionalRate, 1};
        stream_ = pa_stream_new(context_, "Tonvault", &spec, nullptr);
        if (!stream_) return failOpening(pa_context_errno(context_));
        pa_stream_set_state_callback(stream_, &Stream::OnState, this);
        pa_stream_set_read_callback(stream_, &Stream::OnReadable, this);
        pa_buffer_attr attr;
        attr.maxlength = static_cast<std::uint32_t>(-1);
        attr.tlength = attr.prebuf = attr.minreq = static_cast<std::uint32_t>(-1);
        attr.fragsize = static_cast<std::uint32_t>(
            pa_usec_to_bytes(static_cast<pa_usec_t>(PulseWaveIn::kFragmentSeconds * 1e6), &spec));
        // The source's own rate, so that the one conversion is ours; the server only mixes the
        // channels down to one. The recording stays on its source: without DONT_MOVE the server
        // would carry it to another one when the source goes away or the default changes, and the
        // picture would show another input without a word.
        const auto flags =
            static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_FIX_RATE |
                                           PA_STREAM_START_CORKED | PA_STREAM_DONT_MOVE);
        const char* source = key_.empty() ? nullptr : key_.c_str(); // none: the default
        if (pa_stream_connect_record(stream_, source, &attr, flags) < 0)
            return failOpening(pa_context_errno(context_));
        return true;
    }

    // Under the lock: the open gives up when the server has not made the recording by then.
    void armDeadline() {
        timeval at;
        pa_timeval_add(pa_gettimeofday(&at),
                       static_cast<pa_usec_t>(PulseWaveIn::kOpenSeconds * PA_USEC_PER_SEC));
        pa_mainloop_api* api = pa_threaded_mainloop_get_api(loop_);
        deadline_ = api->time_new(api, &at, &Stream::OnDeadline, this);
    }

    // Under the lock: a failure, once; later ones are only consequences of the first.
    void fail(MMRESULT code, const std::string& detail, const std::string& wholeText = {}) {
        if (phase_.load() == Phase::Failed) return;
        {
            std::lock_guard words(wordsMutex_);
            code_ = code;
            failure_ = detail;
            failureText_ = wholeText;
        }
        recording_ = false;
        phase_.store(Phase::Failed);
        forget();
        NotifyWaveInCompletion(); // the program is woken to look
    }

    // The failure as the result of a call, with its words for waveInGetErrorTextA.
    MMRESULT report() const {
        std::lock_guard words(wordsMutex_);
        if (!failureText_.empty())
            SetWaveInErrorText(code_, failureText_);
        else
            SetWaveInErrorDetail(code_, failure_);
        return code_;
    }

    MMRESULT start() override {
        pa_threaded_mainloop_lock(loop_);
        MMRESULT result = MMSYSERR_NOERROR;
        if (phase_.load() == Phase::Failed) {
            result = report();
        } else {
            wantRecording_ = true;
            if (phase_.load() == Phase::Ready && !beginRecording()) {
                wantRecording_ = false;
                const int error = pa_context_errno(context_);
                result = ResultFromPulse(error, "starting the recording", pa_strerror(error));
            }
        }
        pa_threaded_mainloop_unlock(loop_);
        return result;
    }

    MMRESULT stop() override {
        pa_threaded_mainloop_lock(loop_);
        // Nothing more reaches the queue once the lock is given back: the callbacks hold it.
        wantRecording_ = false;
        recording_ = false;
        if (stream_ && pa_stream_get_state(stream_) == PA_STREAM_READY)
            Fire(pa_stream_cork(stream_, 1, nullptr, nullptr));
        pa_threaded_mainloop_unlock(loop_);
        return MMSYSERR_NOERROR;
    }

    bool failed() const override { return phase_.load() == Phase::Failed; }
    bool opening() const override { return phase_.load() == Phase::Opening; }

    std::string failure() const override {
        std::lock_guard words(wordsMutex_);
        return failure_;
    }
    std::string failureText() const override {
        std::lock_guard words(wordsMutex_);
        return failureText_;
    }
    std::string inputName() const override {
        std::lock_guard words(wordsMutex_);
        return name_;
    }

    MMRESULT close() override {
        pa_threaded_mainloop_lock(loop_);
        forget();
        release();
        pa_threaded_mainloop_unlock(loop_);
        return MMSYSERR_NOERROR;
    }

    // Under the lock: the owner gives up the connection this stream waits for or records on.
    void connectionGone(const std::string& why) { fail(MMSYSERR_NODRIVER, why); }

private:
    enum class Phase { Opening, Ready, Failed };

    bool failOpening(int error) {
        fail(CodeFromPulse(error), std::string("opening the recording: ") + pa_strerror(error));
        return false;
    }

    void setName(const std::string& name) {
        std::lock_guard words(wordsMutex_);
        name_ = name;
    }

    // Under the lock: off the owner's waiting list, no deadline, no question pending.
    void forget() {
        auto& waiting = owner_.waiting_;
        waiting.erase(std::remove(waiting.begin(), waiting.end(), this), waiting.end());
        dropDeadline();
        if (nameQuery_) {
            pa_operation_cancel(nameQuery_);
            pa_operation_unref(nameQuery_);
            nameQuery_ = nullptr;
        }
    }

    // Under the lock.
    void dropDeadline() {
        if (!deadline_) return;
        pa_mainloop_api* api = pa_threaded_mainloop_get_api(loop_);
        api->time_free(deadline_);
        deadline_ = nullptr;
    }

    void release() {
        if (stream_) {
            pa_stream_set_state_callback(stream_, nullptr, nullptr);
            pa_stream_set_read_callback(stream_, nullptr, nullptr);
            pa_stream_disconnect(stream_);
            pa_stream_unref(stream_);
            stream_ = nullptr;
        }
        if (context_) {
            pa_context_unref(context_);
            context_ = nullptr;
        }
    }

    // Under the lock.
    bool beginRecording() {
        recording_ = false;
        take(); // what arrived before the last stop belongs to that recording
        pipe_.reset();
        recording_ = true;
        if (!Fire(pa_stream_cork(stream_, 0, nullptr, nullptr))) {
            recording_ = false;
            return false;
        }
        return true;
    }

    // The loop's thread, with the lock held.
    void onReady() {
        if (!pipe_.setUp(pa_stream_get_sample_spec(stream_)->rate, outputRate_)) {
            fail(WAVERR_BADFORMAT, "setting up the rate conversion: " + pipe_.why());
            return;
        }
        // The source the server chose for the default, or the one asked for, by its description.
        if (const char* source = pa_stream_get_device_name(stream_)) {
            std::string description = owner_.describe(source);
            if (description == source)
                nameQuery_ = pa_context_get_source_info_by_name(context_, source,
                                                                &Stream::OnSourceInfo, this);
            setName(description);
        }
        phase_.store(Phase::Ready);
        dropDeadline();
        if (wantRecording_ && !beginRecording()) {
            const int error = pa_context_errno(context_);
            fail(CodeFromPulse(error),
                 std::string("starting the recording: ") + pa_strerror(error));
        }
    }

    // The loop's thread, with the lock held.
    void onEnded() {
        // A server that goes away takes its connection first; with the connection still there,
        // the server ended this recording itself: its source went away (or was never there).
        const bool serverThere = pa_context_get_state(context_) == PA_CONTEXT_READY;
        if (!serverThere) {
            fail(MMSYSERR_NODRIVER, "the sound server went away");
            return;
        }
        const int error = pa_context_errno(context_);
        if (phase_.load() == Phase::Ready) {
            fail(MMSYSERR_NODRIVER, "the recording ended",
                 "The input \"" + inputName() + "\" was removed.");
        } else if (error == PA_ERR_NOENTITY) {
            fail(MMSYSERR_BADDEVICEID, "the input is not there",
                 InputNotAvailableText(inputName()));
        } else {
            failOpening(error);
        }
    }

    static void OnState(pa_stream* stream, void* self) {
        auto* s = static_cast<Stream*>(self);
        const pa_stream_state_t state = pa_stream_get_state(stream);
        if (state == PA_STREAM_READY && s->phase_.load() == Phase::Opening)
            s->onReady();
        else if (!PA_STREAM_IS_GOOD(state))
            s->onEnded();
        SignalLoop(s->loop_);
    }

    static void OnDeadline(pa_mainloop_api*, pa_time_event*, const timeval*, void* self) {
        auto* s = static_cast<Stream*>(self);
        s->dropDeadline(); // the event that fired
        if (s->phase_.load() != Phase::Opening) return;
        // A server that has not answered in all that time is not to be trusted with the
        // connection either: the next open makes a new one.
        s->fail(MMSYSERR_NODRIVER, "the sound server did not answer");
        s->owner_.dropContext("the sound server did not answer");
    }

    static void OnSourceInfo(pa_context*, const pa_source_info* info, int eol, void* self) {
        if (!eol && info && info->description)
            static_cast<Stream*>(self)->setName(info->description);
    }

    static void OnReadable(pa_stream*, size_t, void* self) { static_cast<Stream*>(self)->take(); }

    // Everything readable is taken; without a recording it is dropped. No allocation: the
    // pipe was sized when the stream was opened.
    void take() {
        const void* data = nullptr;
        std::size_t bytes = 0;
        while (pa_stream_peek(stream_, &data, &bytes) == 0 && bytes > 0) {
            // A hole (data lost on the server's side) comes without data: nothing to convert.
            if (data && recording_ &&
                pipe_.push(static_cast<const std::int16_t*>(data), bytes / sizeof(std::int16_t)))
                pipe_.drain();
            pa_stream_drop(stream_);
        }
    }

    PulseWaveIn& owner_;
    pa_threaded_mainloop* loop_;
    WaveInPipe pipe_;       // the loop's thread both writes and drains it
    const std::string key_; // the source asked for; "" the default
    const std::uint32_t outputRate_;
    pa_context* context_ = nullptr; // the connection it was asked on
    pa_stream* stream_ = nullptr;
    pa_time_event* deadline_ = nullptr;
    pa_operation* nameQuery_ = nullptr;
    std::atomic<Phase> phase_{Phase::Opening};
    bool wantRecording_ = false; // started by the program; under the loop's lock
    bool recording_ = false;     // and made by the server too

    // Written on the loop's thread, read on the program's.
    mutable std::mutex wordsMutex_;
    std::string name_;
    MMRESULT code_ = MMSYSERR_NOERROR;
    std::string failure_;
    std::string failureText_;
};

// ---------------------------------------------------------------------------------------------
// The connection and the list of sources

PulseWaveIn::PulseWaveIn() {
    loop_ = pa_threaded_mainloop_new();
    if (!loop_ || pa_threaded_mainloop_start(loop_) < 0) {
        if (loop_) pa_threaded_mainloop_free(loop_);
        loop_ = nullptr;
        initError_ = "libpulse could not start its thread";
        return;
    }
    pa_threaded_mainloop_lock(loop_);
    if (!beginConnect()) {
        initError_ = context_ ? pa_strerror(pa_context_errno(context_))
                              : "libpulse could not make a connection";
    } else if (!WaitUntil(
                   loop_,
                   [this] {
                       return !context_ || pa_context_get_state(context_) == PA_CONTEXT_READY ||
                              !PA_CONTEXT_IS_GOOD(pa_context_get_state(context_));
                   },
                   kConnectTimeout)) {
        initError_ = "the sound server did not answer";
    } else if (!contextReady()) {
        initError_ =
            context_ ? pa_strerror(pa_context_errno(context_)) : "the sound server went away";
    }
    available_ = initError_.empty();
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
    } else {
        dropContext("");
    }
    pa_threaded_mainloop_unlock(loop_);
}

PulseWaveIn::~PulseWaveIn() {
    if (CurrentWaveInBackend() == this) SetWaveInBackend(nullptr);
    if (!loop_) return;
    pa_threaded_mainloop_lock(loop_);
    dropContext("the sound input was closed");
    pa_threaded_mainloop_unlock(loop_);
    pa_threaded_mainloop_stop(loop_);
    pa_threaded_mainloop_free(loop_);
}

bool PulseWaveIn::contextReady() const {
    return context_ && pa_context_get_state(context_) == PA_CONTEXT_READY;
}

bool PulseWaveIn::beginConnect() {
    if (context_) dropContext("the sound server went away");
    context_ = pa_context_new(pa_threaded_mainloop_get_api(loop_), "Tonvault");
    if (!context_) return false;
    pa_context_set_state_callback(
        context_,
        [](pa_context*, void* self) { static_cast<PulseWaveIn*>(self)->onContextState(); }, this);
    if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) return false;
    return context_ && PA_CONTEXT_IS_GOOD(pa_context_get_state(context_));
}

void PulseWaveIn::dropContext(const std::string& why) {
    if (context_) {
        pa_context_set_state_callback(context_, nullptr, nullptr);
        pa_context_set_subscribe_callback(context_, nullptr, nullptr);
        pa_context_disconnect(context_);
        pa_context_unref(context_);
        context_ = nullptr;
    }
    connectionLost(why);
}

void PulseWaveIn::connectionLost(const std::string& why) {
    // Streams still waiting for the connection will not get it.
    std::vector<Stream*> waiting;
    waiting.swap(waiting_);
    for (Stream* s : waiting) s->connectionGone(why);
    listing_ = relist_ = false;
    // The default heard last still names what a failed open meant to record.
    std::lock_guard list(listMutex_);
    sources_.clear();
}

void PulseWaveIn::onContextState() {
    const pa_context_state_t state = pa_context_get_state(context_);
    if (state == PA_CONTEXT_READY) {
        pa_context_set_subscribe_callback(
            context_,
            [](pa_context*, pa_subscription_event_type_t type, std::uint32_t, void* self) {
                const auto facility = type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
                if (facility == PA_SUBSCRIPTION_EVENT_SOURCE ||
                    facility == PA_SUBSCRIPTION_EVENT_SERVER)
                    static_cast<PulseWaveIn*>(self)->refreshSources();
            },
            this);
        Fire(pa_context_subscribe(context_,
                                  static_cast<pa_subscription_mask_t>(PA_SUBSCRIPTION_MASK_SOURCE |
                                                                      PA_SUBSCRIPTION_MASK_SERVER),
                                  nullptr, nullptr));
        refreshSources();
        std::vector<Stream*> waiting;
        waiting.swap(waiting_);
        for (Stream* s : waiting) s->request();
    } else if (!PA_CONTEXT_IS_GOOD(state)) {
        connectionLost(std::string("reaching the sound server: ") +
                       pa_strerror(pa_context_errno(context_)));
    }
    SignalLoop(loop_);
}

void PulseWaveIn::refreshSources() {
    if (listing_) {
        relist_ = true;
        return;
    }
    listing_ = true;
    building_.clear();
    const auto source = [](pa_context*, const pa_source_info* info, int eol, void* self) {
        auto* me = static_cast<PulseWaveIn*>(self);
        if (eol == 0) {
            if (info && info->name)
                me->building_.push_back(
                    {info->name, info->description ? info->description : info->name, false});
            return;
        }
        if (eol > 0) {
            std::lock_guard list(me->listMutex_);
            me->sources_.swap(me->building_);
            for (const WaveInInput& input : me->sources_) me->known_[input.key] = input.description;
        }
        me->building_.clear();
        me->listing_ = false;
        if (me->relist_) {
            me->relist_ = false;
            me->refreshSources();
        }
    };
    const auto server = [](pa_context*, const pa_server_info* info, void* self) {
        auto* me = static_cast<PulseWaveIn*>(self);
        if (!info) return;
        std::lock_guard list(me->listMutex_);
        me->defaultSource_ = info->default_source_name ? info->default_source_name : "";
    };
    if (!Fire(pa_context_get_source_info_list(context_, source, this))) listing_ = false;
    Fire(pa_context_get_server_info(context_, server, this));
}

std::string PulseWaveIn::describe(const std::string& key) {
    std::lock_guard list(listMutex_);
    const std::string& name = key.empty() ? defaultSource_ : key;
    for (const WaveInInput& source : sources_)
        if (source.key == name) return source.description;
    if (const auto it = known_.find(name); it != known_.end()) return it->second;
    if (!name.empty()) return name;
    return "the default source";
}

// ---------------------------------------------------------------------------------------------
// The device

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

std::vector<WaveInInput> PulseWaveIn::inputs(std::uint32_t deviceId) {
    if (!available_ || deviceId != 0) return {};
    pa_threaded_mainloop_lock(loop_);
    // After the server went away: a new connection, for the next look at the list.
    if (!context_ || !PA_CONTEXT_IS_GOOD(pa_context_get_state(context_))) beginConnect();
    pa_threaded_mainloop_unlock(loop_);
    std::lock_guard list(listMutex_);
    std::vector<WaveInInput> inputs = sources_;
    for (WaveInInput& input : inputs) input.isDefault = input.key == defaultSource_;
    return inputs;
}

MMRESULT PulseWaveIn::open(std::uint32_t id, const WAVEFORMATEX& format, WaveInQueue& queue,
                           std::unique_ptr<WaveInStream>& stream) {
    return openInput("", id, format, queue, stream);
}

MMRESULT PulseWaveIn::openInput(const std::string& key, std::uint32_t id,
                                const WAVEFORMATEX& format, WaveInQueue& queue,
                                std::unique_ptr<WaveInStream>& stream) {
    if (!available_ || id != 0) return MMSYSERR_BADDEVICEID;
    pa_threaded_mainloop_lock(loop_);
    const std::string name = describe(key);
    auto s = std::make_unique<Stream>(*this, queue, key, name, format.nSamplesPerSec);
    MMRESULT result = MMSYSERR_NOERROR;
    if (!contextReady() && (!context_ || !PA_CONTEXT_IS_GOOD(pa_context_get_state(context_))))
        beginConnect();
    if (contextReady()) {
        if (!s->request()) result = s->report();
    } else if (!context_ || !PA_CONTEXT_IS_GOOD(pa_context_get_state(context_))) {
        // Refused at once (no server where it was): said now, not after the wait.
        result = ResultFromPulse(PA_ERR_CONNECTIONREFUSED, "reaching the sound server",
                                 context_ ? pa_strerror(pa_context_errno(context_))
                                          : "libpulse could not make a connection");
    } else {
        waiting_.push_back(s.get());
    }
    if (result == MMSYSERR_NOERROR)
        s->armDeadline();
    else
        NameInputInErrorDetail(result, name);
    pa_threaded_mainloop_unlock(loop_);
    // A stream that did not open is released (under the lock) as it goes.
    if (result == MMSYSERR_NOERROR) stream = std::move(s);
    return result;
}

} // namespace platform
