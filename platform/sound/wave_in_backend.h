// SPDX-License-Identifier: GPL-3.0-or-later
// The device side of wave input: what a backend (PortAudio, simulated) provides, and the queue
// of headers that recorded bytes are written into.
#pragma once

#include "platform/sound/wave_in.h"

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace platform {

// The headers queued on one open device, in order. One consumer (the wave-in calls on the
// program's thread) pushes; one producer at a time (a backend's recording thread) writes bytes
// into the front header. The producer side never allocates, locks or blocks.
class WaveInQueue {
public:
    static constexpr std::size_t kCapacity = 64;

    // Consumer: appends a header; false when kCapacity headers are already queued.
    bool push(WAVEHDR* header);
    // Consumer, only while no producer can run: marks the partly filled header and every queued
    // one done, oldest first. Returns how many were returned.
    std::size_t flush();
    // Headers queued and not yet done (exact only while no producer runs).
    std::size_t queued() const;

    // Producer: writes bytes into the queued headers in order, marking each full one done;
    // bytes with no header to go into are dropped. Returns the bytes written.
    std::size_t deliver(const void* bytes, std::size_t count);
    // Producer: bytes still needed to complete the front header; 0 when none is queued.
    std::size_t bytesToNextCompletion();
    std::uint64_t droppedBytes() const { return dropped_.load(std::memory_order_relaxed); }
    // Headers filled to the end by deliver() since the queue was made (any thread may read it).
    std::uint64_t completions() const { return completions_.load(std::memory_order_acquire); }

private:
    bool pop(WAVEHDR*& header);
    static void markDone(WAVEHDR* header, std::uint32_t bytesRecorded);

    std::array<WAVEHDR*, kCapacity> ring_{};
    std::atomic<std::size_t> head_{0}; // next to pop (producer)
    std::atomic<std::size_t> tail_{0}; // next free slot (consumer)
    WAVEHDR* current_ = nullptr;       // producer-owned
    std::uint32_t filled_ = 0;
    std::atomic<std::uint64_t> dropped_{0};
    std::atomic<std::uint64_t> completions_{0};
};

// One open recording on a device. Destroying it closes the device; after the destructor (and
// after stop() returns) the stream writes nothing more into the queue.
class WaveInStream {
public:
    virtual ~WaveInStream() = default;
    // Hooks consulted before a header is prepared or queued; non-zero refuses the call.
    virtual MMRESULT prepare(WAVEHDR&) { return MMSYSERR_NOERROR; }
    virtual MMRESULT add(WAVEHDR&) { return MMSYSERR_NOERROR; }
    virtual MMRESULT start() = 0;
    virtual MMRESULT stop() = 0;
    // True once the device has failed for good; it is then released even with headers queued.
    virtual bool failed() const { return false; }
    // True while the device is still being opened beside the program (a sound server that has
    // not answered yet): it records once it is open, or fails by itself.
    virtual bool opening() const { return false; }
    // What happened to a failed device, in words for the user (program thread only).
    virtual std::string failure() const { return "the device stopped recording"; }
    // A whole message that says it better than the code's text and failure() can (an input that
    // was removed), or "".
    virtual std::string failureText() const { return {}; }
    // The input it records from, in words for the user (program thread only).
    virtual std::string inputName() const { return inputName_; }
    void nameInput(std::string name) { inputName_ = std::move(name); }
    // The result to report for closing; the stream is destroyed whatever it returns.
    virtual MMRESULT close() { return MMSYSERR_NOERROR; }

private:
    std::string inputName_; // set before the stream is in use
};

class WaveInBackend {
public:
    virtual ~WaveInBackend() = default;
    virtual std::uint32_t deviceCount() = 0;
    virtual MMRESULT deviceCaps(std::uint32_t id, WAVEINCAPSA& caps) = 0;
    // The format has been checked (16-bit mono PCM, supported rate). The stream writes the
    // samples, converted to format.nSamplesPerSec, into queue, which outlives the stream.
    virtual MMRESULT open(std::uint32_t id, const WAVEFORMATEX& format, WaveInQueue& queue,
                          std::unique_ptr<WaveInStream>& stream) = 0;

    // A backend whose devices are its inputs (winmm, PortAudio) keeps these two: each device is
    // an input, keyed and described by its name, and choosing one opens that device in place of
    // the one asked for. A backend with one device and many inputs to record from (a sound
    // server's sources) lists and opens them itself.
    virtual std::vector<WaveInInput> inputs(std::uint32_t deviceId);
    // key "" records what device id records by itself. A key that is not there fails with a
    // message that names it.
    virtual MMRESULT openInput(const std::string& key, std::uint32_t id, const WAVEFORMATEX& format,
                               WaveInQueue& queue, std::unique_ptr<WaveInStream>& stream);
    // A device's name for the user; by default the name in its caps.
    virtual std::string deviceName(std::uint32_t id);
};

// Backends call this when they fail, to say what went wrong in words; waveInGetErrorTextA adds
// it to the text of that code. Each wave-in call forgets the previous detail.
void SetWaveInErrorDetail(MMRESULT code, const std::string& detail);
// As SetWaveInErrorDetail, but text is the whole message for that code.
void SetWaveInErrorText(MMRESULT code, const std::string& text);
// The message for an input that is not there to be opened.
std::string InputNotAvailableText(const std::string& name);
// Names the input in the detail of a failure with that code (not in a whole message).
void NameInputInErrorDetail(MMRESULT code, const std::string& name);

// Signals a completion (safe on a recording thread: no lock, no allocation; then the listener).
void NotifyWaveInCompletion();

} // namespace platform
