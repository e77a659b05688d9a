// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/sound/wave_in.h"
#include "platform/sound/wave_in_backend.h"

#include "platform/system/counting_semaphore.h"
#include "platform/system/perf_counter.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <thread>

namespace platform {

// ---------------------------------------------------------------------------------------------
// Header queue

bool WaveInQueue::push(WAVEHDR* header) {
    const std::size_t tail = tail_.load(std::memory_order_relaxed);
    if (tail - head_.load(std::memory_order_acquire) >= kCapacity) return false;
    ring_[tail % kCapacity] = header;
    tail_.store(tail + 1, std::memory_order_release);
    return true;
}

bool WaveInQueue::pop(WAVEHDR*& header) {
    const std::size_t head = head_.load(std::memory_order_relaxed);
    if (head == tail_.load(std::memory_order_acquire)) return false;
    header = ring_[head % kCapacity];
    head_.store(head + 1, std::memory_order_release);
    return true;
}

void WaveInQueue::markDone(WAVEHDR* header, std::uint32_t bytesRecorded) {
    header->dwBytesRecorded = bytesRecorded;
    const std::uint32_t flags = header->dwFlags.load(std::memory_order_relaxed);
    header->dwFlags.store((flags & ~WHDR_INQUEUE) | WHDR_DONE, std::memory_order_release);
}

std::size_t WaveInQueue::flush() {
    std::size_t returned = 0;
    if (current_) {
        markDone(current_, filled_);
        current_ = nullptr;
        filled_ = 0;
        ++returned;
    }
    WAVEHDR* header = nullptr;
    while (pop(header)) {
        markDone(header, 0);
        ++returned;
    }
    if (returned) NotifyWaveInCompletion();
    return returned;
}

std::size_t WaveInQueue::queued() const {
    return tail_.load(std::memory_order_acquire) - head_.load(std::memory_order_acquire) +
           (current_ ? 1 : 0);
}

std::size_t WaveInQueue::deliver(const void* bytes, std::size_t count) {
    const char* source = static_cast<const char*>(bytes);
    std::size_t written = 0;
    while (count > 0) {
        if (!current_) {
            if (!pop(current_)) break;
            filled_ = 0;
        }
        const std::size_t room = current_->dwBufferLength - filled_;
        const std::size_t n = std::min(room, count);
        std::memcpy(current_->lpData + filled_, source, n);
        filled_ += static_cast<std::uint32_t>(n);
        source += n;
        count -= n;
        written += n;
        if (filled_ == current_->dwBufferLength) {
            markDone(current_, filled_);
            completions_.fetch_add(1, std::memory_order_release);
            current_ = nullptr;
            filled_ = 0;
            NotifyWaveInCompletion();
        }
    }
    if (count) dropped_.fetch_add(count, std::memory_order_relaxed);
    return written;
}

std::size_t WaveInQueue::bytesToNextCompletion() {
    if (!current_) {
        if (!pop(current_)) return 0;
        filled_ = 0;
    }
    return current_->dwBufferLength - filled_;
}

// ---------------------------------------------------------------------------------------------
// Completion notification

namespace {
// Released once per completion; a waiter takes one and drains the rest. Releasing takes no lock
// (an atomic add and, with a waiter, a futex wake; one kernel call on Windows), so a recording
// thread can notify.
CountingSemaphore completions{0};
std::atomic<void (*)(void*)> listener{nullptr};
std::atomic<void*> listenerContext{nullptr};
std::atomic<int> listenerCalls{0}; // notifications inside the listener right now
} // namespace

void NotifyWaveInCompletion() {
    completions.release();
    listenerCalls.fetch_add(1);
    if (void (*call)(void*) = listener.load()) call(listenerContext.load());
    listenerCalls.fetch_sub(1);
}

void SetWaveInCompletionListener(void (*call)(void*), void* context) {
    listener.store(nullptr);
    // A notification that read the old listener has finished with it before this returns.
    while (listenerCalls.load() != 0) std::this_thread::yield();
    listenerContext.store(context);
    listener.store(call);
}

void WaveInClearCompletions() {
    while (completions.try_acquire()) {
    }
}

bool WaveInWaitForCompletion(int timeoutMs) {
    if (timeoutMs < 0)
        completions.acquire();
    else if (!completions.try_acquire_for(std::chrono::milliseconds(timeoutMs)))
        return false;
    WaveInClearCompletions();
    return true;
}

// ---------------------------------------------------------------------------------------------
// Open devices and the calls

namespace {

struct OpenWaveIn {
    WaveInQueue queue; // declared first: the stream writes into it until destroyed
    std::unique_ptr<WaveInStream> stream;
    std::uint32_t rate = 0;
    bool started = false;
    // The stall rule of WaveInDeviceStatus: when a completion (or a reason not to expect one)
    // was last seen, in performance-counter counts, and the completion count seen then.
    std::int64_t progressAt = 0;
    std::uint64_t completionsSeen = 0;
    std::uint32_t longestHeader = 0; // bytes
};

void NoteProgress(OpenWaveIn& device) {
    device.progressAt = QueryPerformanceCounter();
    device.completionsSeen = device.queue.completions();
}

std::recursive_mutex registryMutex;
WaveInBackend* backend = nullptr;
std::string chosenInput; // "" = each device's own
std::map<HWAVEIN, std::unique_ptr<OpenWaveIn>>& openDevices() {
    static std::map<HWAVEIN, std::unique_ptr<OpenWaveIn>> devices;
    return devices;
}
HWAVEIN nextHandle = 1;

std::mutex detailMutex;
MMRESULT detailCode = MMSYSERR_NOERROR;
std::string detailText;
bool detailIsWhole = false; // detailText replaces the code's text

void forgetDetail() {
    std::lock_guard lock(detailMutex);
    detailCode = MMSYSERR_NOERROR;
    detailText.clear();
    detailIsWhole = false;
}

std::string Quoted(const std::string& name) {
    return "\"" + name + "\"";
}

OpenWaveIn* find(HWAVEIN handle) {
    auto& devices = openDevices();
    auto it = devices.find(handle);
    return it == devices.end() ? nullptr : it->second.get();
}

const char* baseText(MMRESULT code) {
    switch (code) {
    case MMSYSERR_NOERROR:
        return "The sound input call succeeded.";
    case MMSYSERR_ERROR:
        return "The sound input device reported an error.";
    case MMSYSERR_BADDEVICEID:
        return "There is no sound input device with that number.";
    case MMSYSERR_ALLOCATED:
        return "The sound input device is already in use.";
    case MMSYSERR_INVALHANDLE:
        return "The sound input device is not open.";
    case MMSYSERR_NODRIVER:
        return "The sound input device is no longer available; it may have been unplugged.";
    case MMSYSERR_NOMEM:
        return "There is not enough memory to record sound.";
    case MMSYSERR_NOTSUPPORTED:
        return "The sound input device cannot do that.";
    case MMSYSERR_BADERRNUM:
        return "That sound input error number is unknown.";
    case MMSYSERR_INVALFLAG:
        return "A sound input call was given a flag it does not accept.";
    case MMSYSERR_INVALPARAM:
        return "A sound input call was given an invalid value.";
    case WAVERR_BADFORMAT:
        return "The sound input device cannot record in the requested format.";
    case WAVERR_STILLPLAYING:
        return "Sound buffers are still queued on the input device.";
    case WAVERR_UNPREPARED:
        return "A sound buffer was queued before it was prepared.";
    default:
        return nullptr;
    }
}

MMRESULT refuse(MMRESULT code, const std::string& detail) {
    SetWaveInErrorDetail(code, detail);
    return code;
}

} // namespace

void SetWaveInErrorDetail(MMRESULT code, const std::string& detail) {
    std::lock_guard lock(detailMutex);
    detailCode = code;
    detailText = detail;
    detailIsWhole = false;
}

void SetWaveInErrorText(MMRESULT code, const std::string& text) {
    std::lock_guard lock(detailMutex);
    detailCode = code;
    detailText = text;
    detailIsWhole = true;
}

void NameInputInErrorDetail(MMRESULT code, const std::string& name) {
    std::lock_guard lock(detailMutex);
    if (code == detailCode && !detailIsWhole && !detailText.empty() && !name.empty())
        detailText += " (input " + Quoted(name) + ")";
}

std::string InputNotAvailableText(const std::string& name) {
    return "The input " + Quoted(name) + " is not available; it may have been unplugged.";
}

// ---------------------------------------------------------------------------------------------
// Inputs of a backend whose devices are its inputs

std::string WaveInBackend::deviceName(std::uint32_t id) {
    WAVEINCAPSA caps{};
    if (deviceCaps(id, caps) != MMSYSERR_NOERROR) return {};
    caps.szPname[sizeof caps.szPname - 1] = '\0';
    return caps.szPname;
}

std::vector<WaveInInput> WaveInBackend::inputs(std::uint32_t deviceId) {
    std::vector<WaveInInput> list;
    const std::uint32_t n = deviceCount();
    std::map<std::string, int> seen;
    for (std::uint32_t id = 0; id < n; ++id) {
        std::string name = deviceName(id);
        if (name.empty()) name = "Input " + std::to_string(id + 1);
        // Two devices of one make share a name; the second is told apart by its number.
        if (const int count = ++seen[name]; count > 1) name += " (" + std::to_string(count) + ")";
        list.push_back({name, name, id == deviceId});
    }
    return list;
}

MMRESULT WaveInBackend::openInput(const std::string& key, std::uint32_t id,
                                  const WAVEFORMATEX& format, WaveInQueue& queue,
                                  std::unique_ptr<WaveInStream>& stream) {
    std::string name;
    if (!key.empty()) {
        // The list is made afresh: ids move when a device is plugged in or out.
        const std::vector<WaveInInput> list = inputs(id);
        const auto it = std::find_if(list.begin(), list.end(),
                                     [&](const WaveInInput& input) { return input.key == key; });
        if (it == list.end()) {
            SetWaveInErrorText(MMSYSERR_BADDEVICEID, InputNotAvailableText(key));
            return MMSYSERR_BADDEVICEID;
        }
        id = static_cast<std::uint32_t>(it - list.begin());
        name = it->description;
    } else {
        for (const WaveInInput& input : inputs(id))
            if (input.isDefault) name = input.description;
    }
    const MMRESULT result = open(id, format, queue, stream);
    if (result == MMSYSERR_NOERROR && stream) stream->nameInput(name);
    if (result != MMSYSERR_NOERROR) NameInputInErrorDetail(result, name);
    return result;
}

void SetWaveInBackend(WaveInBackend* newBackend) {
    std::lock_guard lock(registryMutex);
    for (auto& [handle, device] : openDevices()) {
        device->stream->stop();
        device->queue.flush();
        device->stream.reset();
    }
    openDevices().clear();
    backend = newBackend;
    chosenInput.clear();
}

WaveInBackend* CurrentWaveInBackend() {
    std::lock_guard lock(registryMutex);
    return backend;
}

std::uint32_t waveInGetNumDevs() {
    std::lock_guard lock(registryMutex);
    return backend ? backend->deviceCount() : 0;
}

MMRESULT waveInGetDevCapsA(std::uintptr_t deviceId, WAVEINCAPSA* caps, std::uint32_t capsSize) {
    std::lock_guard lock(registryMutex);
    forgetDetail();
    if (!caps || capsSize < sizeof(WAVEINCAPSA)) return MMSYSERR_INVALPARAM;
    if (!backend || deviceId >= backend->deviceCount()) return MMSYSERR_BADDEVICEID;
    *caps = WAVEINCAPSA{};
    return backend->deviceCaps(static_cast<std::uint32_t>(deviceId), *caps);
}

MMRESULT waveInOpen(HWAVEIN* handle, std::uint32_t deviceId, const WAVEFORMATEX* format,
                    std::uintptr_t, std::uintptr_t, std::uint32_t flags) {
    std::lock_guard lock(registryMutex);
    forgetDetail();
    if (!handle || !format) return MMSYSERR_INVALPARAM;
    *handle = 0;
    if (flags != 0) return MMSYSERR_INVALFLAG;
    if (!backend) return MMSYSERR_BADDEVICEID;
    // A chosen input is found by its key, wherever the devices have moved since the scan.
    if (chosenInput.empty() && deviceId >= backend->deviceCount()) return MMSYSERR_BADDEVICEID;
    if (format->wFormatTag != WAVE_FORMAT_PCM || format->nChannels != 1 ||
        format->wBitsPerSample != 16 || format->nBlockAlign != 2)
        return refuse(WAVERR_BADFORMAT, "only 16-bit mono PCM can be recorded");
    if (format->nSamplesPerSec < 1000 || format->nSamplesPerSec > 192000)
        return refuse(WAVERR_BADFORMAT, std::to_string(format->nSamplesPerSec) +
                                            " samples per second is outside 1000 to 192000");
    auto device = std::make_unique<OpenWaveIn>();
    const MMRESULT result =
        backend->openInput(chosenInput, deviceId, *format, device->queue, device->stream);
    if (result != MMSYSERR_NOERROR) return result;
    if (!device->stream) return refuse(MMSYSERR_ERROR, "the device opened no stream");
    device->rate = format->nSamplesPerSec;
    *handle = nextHandle++;
    openDevices().emplace(*handle, std::move(device));
    return MMSYSERR_NOERROR;
}

MMRESULT waveInPrepareHeader(HWAVEIN handle, WAVEHDR* header, std::uint32_t headerSize) {
    std::lock_guard lock(registryMutex);
    forgetDetail();
    OpenWaveIn* device = find(handle);
    if (!device) return MMSYSERR_INVALHANDLE;
    if (!header || headerSize != sizeof(WAVEHDR) || !header->lpData || header->dwBufferLength == 0)
        return MMSYSERR_INVALPARAM;
    if (header->dwFlags.load(std::memory_order_acquire) & WHDR_PREPARED) return MMSYSERR_NOERROR;
    const MMRESULT result = device->stream->prepare(*header);
    if (result != MMSYSERR_NOERROR) return result;
    header->dwFlags.fetch_or(WHDR_PREPARED, std::memory_order_acq_rel);
    return MMSYSERR_NOERROR;
}

MMRESULT waveInAddBuffer(HWAVEIN handle, WAVEHDR* header, std::uint32_t headerSize) {
    std::lock_guard lock(registryMutex);
    forgetDetail();
    OpenWaveIn* device = find(handle);
    if (!device) return MMSYSERR_INVALHANDLE;
    if (!header || headerSize != sizeof(WAVEHDR)) return MMSYSERR_INVALPARAM;
    const std::uint32_t flags = header->dwFlags.load(std::memory_order_acquire);
    if (!(flags & WHDR_PREPARED)) return WAVERR_UNPREPARED;
    if (flags & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
    const MMRESULT result = device->stream->add(*header);
    if (result != MMSYSERR_NOERROR) return result;
    header->dwBytesRecorded = 0;
    device->longestHeader = std::max(device->longestHeader, header->dwBufferLength);
    header->dwFlags.store((flags & ~WHDR_DONE) | WHDR_INQUEUE, std::memory_order_release);
    if (!device->queue.push(header)) {
        header->dwFlags.store(flags, std::memory_order_release);
        return refuse(MMSYSERR_NOMEM, "too many buffers are queued");
    }
    return MMSYSERR_NOERROR;
}

MMRESULT waveInStart(HWAVEIN handle) {
    std::lock_guard lock(registryMutex);
    forgetDetail();
    OpenWaveIn* device = find(handle);
    if (!device) return MMSYSERR_INVALHANDLE;
    if (device->started) return MMSYSERR_NOERROR;
    const MMRESULT result = device->stream->start();
    if (result == MMSYSERR_NOERROR) {
        device->started = true;
        NoteProgress(*device);
    }
    return result;
}

MMRESULT waveInReset(HWAVEIN handle) {
    std::lock_guard lock(registryMutex);
    forgetDetail();
    OpenWaveIn* device = find(handle);
    if (!device) return MMSYSERR_INVALHANDLE;
    // stop() guarantees that nothing more is written, even when it reports a failure, so the
    // headers can be handed back either way.
    const MMRESULT result = device->stream->stop();
    device->started = false;
    device->queue.flush();
    return result;
}

MMRESULT waveInUnprepareHeader(HWAVEIN handle, WAVEHDR* header, std::uint32_t headerSize) {
    std::lock_guard lock(registryMutex);
    forgetDetail();
    if (!find(handle)) return MMSYSERR_INVALHANDLE;
    if (!header || headerSize != sizeof(WAVEHDR)) return MMSYSERR_INVALPARAM;
    const std::uint32_t flags = header->dwFlags.load(std::memory_order_acquire);
    if (flags & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
    header->dwFlags.store(flags & ~WHDR_PREPARED, std::memory_order_release);
    return MMSYSERR_NOERROR;
}

MMRESULT waveInClose(HWAVEIN handle) {
    std::lock_guard lock(registryMutex);
    forgetDetail();
    auto& devices = openDevices();
    auto it = devices.find(handle);
    if (it == devices.end()) return MMSYSERR_INVALHANDLE;
    OpenWaveIn& device = *it->second;
    const bool failed = device.stream->failed();
    if (device.queue.queued() > 0) {
        if (!failed) return WAVERR_STILLPLAYING;
        device.stream->stop();
        device.queue.flush();
    }
    const MMRESULT result = device.stream->close();
    devices.erase(it);
    return result;
}

MMRESULT WaveInDeviceStatus(HWAVEIN handle) {
    std::lock_guard lock(registryMutex);
    forgetDetail();
    OpenWaveIn* device = find(handle);
    if (!device) return MMSYSERR_INVALHANDLE;
    // Asked at every pass that finds no block: words are made only for a failure.
    const auto input = [device] { return " (input " + Quoted(device->stream->inputName()) + ")"; };
    if (device->stream->failed()) {
        const std::string text = device->stream->failureText();
        if (text.empty()) return refuse(MMSYSERR_NODRIVER, device->stream->failure() + input());
        SetWaveInErrorText(MMSYSERR_NODRIVER, text);
        return MMSYSERR_NODRIVER;
    }
    if (!device->started || device->queue.queued() == 0 || device->stream->opening() ||
        device->queue.completions() != device->completionsSeen) {
        NoteProgress(*device);
        return MMSYSERR_NOERROR;
    }
    const std::int64_t frequency = QueryPerformanceFrequency();
    const double silent =
        frequency > 0 ? static_cast<double>(QueryPerformanceCounter() - device->progressAt) /
                            static_cast<double>(frequency)
                      : 0.0;
    const double bufferSeconds =
        device->rate ? device->longestHeader / 2.0 / static_cast<double>(device->rate) : 0.0;
    if (silent <= 3.0 * bufferSeconds + 1.0) return MMSYSERR_NOERROR;
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.1f", silent);
    return refuse(MMSYSERR_NODRIVER,
                  std::string("no sound has arrived for ") + seconds + " seconds" + input());
}

std::vector<WaveInInput> WaveInInputs(std::uint32_t deviceId) {
    std::lock_guard lock(registryMutex);
    // Listed also when devices have gone since the scan: then none is marked the default.
    return backend ? backend->inputs(deviceId) : std::vector<WaveInInput>();
}

void WaveInChooseInput(const std::string& key) {
    std::lock_guard lock(registryMutex);
    chosenInput = key;
}

std::string WaveInChosenInput() {
    std::lock_guard lock(registryMutex);
    return chosenInput;
}

std::string WaveInInputName(HWAVEIN handle) {
    std::lock_guard lock(registryMutex);
    OpenWaveIn* device = find(handle);
    return device ? device->stream->inputName() : std::string();
}

MMRESULT waveInGetErrorTextA(MMRESULT result, char* text, std::uint32_t textSize) {
    if (!text || textSize == 0) return MMSYSERR_INVALPARAM;
    const char* base = baseText(result);
    std::string message;
    MMRESULT status = MMSYSERR_NOERROR;
    if (base) {
        message = base;
    } else {
        message = "Unknown sound input error " + std::to_string(result) + ".";
        status = MMSYSERR_BADERRNUM;
    }
    {
        std::lock_guard lock(detailMutex);
        if (result != MMSYSERR_NOERROR && result == detailCode && !detailText.empty()) {
            if (detailIsWhole) {
                message = detailText;
            } else {
                if (message.back() == '.') message.pop_back();
                message += ": " + detailText + ".";
            }
        }
    }
    const std::size_t n = std::min<std::size_t>(message.size(), textSize - 1);
    std::memcpy(text, message.data(), n);
    text[n] = '\0';
    return status;
}

} // namespace platform
