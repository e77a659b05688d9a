// SPDX-License-Identifier: GPL-3.0-or-later
// The pipe from a device's pieces of sound to the queued headers: when it asks to be drained,
// what a drain hands on, at the device's rate and through the converter, on one thread and two.
#include "platform/sound/wave_in_pipe.h"
#include "platform/system/counting_semaphore.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <numeric>
#include <thread>
#include <vector>

using namespace platform;

namespace {

// Headers of `samples` samples each, queued in order.
struct Headers {
    Headers(WaveInQueue& queue, int count, std::uint32_t samples)
        : storage(count, std::vector<std::int16_t>(samples)), headers(count) {
        for (int i = 0; i < count; ++i) {
            headers[i].lpData = reinterpret_cast<char*>(storage[i].data());
            headers[i].dwBufferLength = samples * 2;
            requeue(queue, i);
        }
    }
    void requeue(WaveInQueue& queue, int i) {
        headers[i].dwFlags.store(WHDR_PREPARED | WHDR_INQUEUE);
        ASSERT_TRUE(queue.push(&headers[i]));
    }
    bool done(int i) const { return headers[i].dwFlags.load() & WHDR_DONE; }
    std::vector<std::vector<std::int16_t>> storage;
    std::vector<WAVEHDR> headers;
};

std::vector<std::int16_t> Ramp(std::size_t n, int from = 0) {
    std::vector<std::int16_t> v(n);
    std::iota(v.begin(), v.end(), static_cast<std::int16_t>(from));
    return v;
}

TEST(WaveInPipe, AtTheDevicesRateItAsksToBeDrainedWhenTheFrontHeaderCanBeFilled) {
    WaveInQueue queue;
    WaveInPipe pipe(queue);
    ASSERT_TRUE(pipe.setUp(8000, 8000));
    Headers h(queue, 2, 1000);
    const auto data = Ramp(4000);

    EXPECT_TRUE(pipe.push(data.data(), 10))
        << "the first piece: the drainer learns what to wait for";
    pipe.drain();
    EXPECT_FALSE(h.done(0));
    EXPECT_FALSE(pipe.push(data.data() + 10, 500));
    EXPECT_FALSE(pipe.push(data.data() + 510, 489)) << "one sample short of the header";
    EXPECT_FALSE(h.done(0)) << "nothing is handed on before the drain";
    EXPECT_TRUE(pipe.push(data.data() + 999, 300));
    pipe.drain();
    ASSERT_TRUE(h.done(0));
    EXPECT_EQ(h.storage[0], std::vector<std::int16_t>(data.begin(), data.begin() + 1000));
    EXPECT_EQ(h.headers[0].dwBytesRecorded, 2000u);
    EXPECT_FALSE(h.done(1));
    // 299 of the second header are in; the drain asked for the rest.
    EXPECT_FALSE(pipe.push(data.data() + 1299, 700));
    EXPECT_TRUE(pipe.push(data.data() + 1999, 1));
    pipe.drain();
    ASSERT_TRUE(h.done(1));
    EXPECT_EQ(h.storage[1], std::vector<std::int16_t>(data.begin() + 1000, data.begin() + 2000));

    // No header queued: every piece is looked at, and dropped, not kept for a later header.
    EXPECT_TRUE(pipe.push(data.data() + 2000, 5));
    pipe.drain();
    EXPECT_TRUE(pipe.push(data.data() + 2005, 5));
    pipe.drain();
    h.requeue(queue, 0);
    EXPECT_TRUE(pipe.push(data.data() + 2010, 1)) << "a header queued since: looked at once more";
    pipe.drain();
    EXPECT_FALSE(pipe.push(data.data() + 2011, 998));
    EXPECT_TRUE(pipe.push(data.data() + 2009 + 1000, 1));
    pipe.drain();
    ASSERT_TRUE(h.done(0));
    EXPECT_EQ(h.storage[0], std::vector<std::int16_t>(data.begin() + 2010, data.begin() + 3010))
        << "the dropped pieces are not in it";
    EXPECT_EQ(queue.droppedBytes(), 20u);
}

TEST(WaveInPipe, ThroughTheConverterItWaitsForTheInputTheConversionNeeds) {
    WaveInQueue queue;
    WaveInPipe pipe(queue);
    ASSERT_TRUE(pipe.setUp(48000, 2048));
    WaveInResampler same;
    ASSERT_TRUE(same.setUp(48000, 2048));
    Headers h(queue, 1, 2048); // 1 s
    const std::vector<std::int16_t> tone(48000 * 2, 1000);
    ASSERT_TRUE(pipe.push(tone.data(), 1));
    pipe.drain();
    const std::size_t needed = same.inputFor(2048) - 1; // the first sample is in
    EXPECT_GT(needed, 48000u) << "a second of output needs more than a second of input";
    EXPECT_FALSE(pipe.push(tone.data() + 1, needed - 1));
    EXPECT_TRUE(pipe.push(tone.data() + needed, 1));
    pipe.drain();
    EXPECT_TRUE(h.done(0));
    EXPECT_EQ(h.storage[0].back(), 1000) << "a constant passes the converter unchanged";

    // A new recording: the converter starts again from silence.
    Headers again(queue, 1, 4);
    pipe.reset();
    EXPECT_TRUE(pipe.push(tone.data(), 1));
    pipe.drain();
    EXPECT_FALSE(again.done(0));
}

TEST(WaveInPipe, AFullRingDropsWhatFindsNoRoom) {
    WaveInQueue queue;
    WaveInPipe pipe(queue);
    ASSERT_TRUE(pipe.setUp(1000, 1000)); // room for 2048 samples
    Headers h(queue, 1, 4000);
    const auto data = Ramp(5000);
    const auto later = Ramp(2000, 10000);
    ASSERT_TRUE(pipe.push(data.data(), 1));
    pipe.drain();
    EXPECT_TRUE(pipe.push(data.data() + 1, 4999)) << "half the ring: drained before the header";
    pipe.drain();
    EXPECT_FALSE(h.done(0)) << "2049 of 4000";
    EXPECT_TRUE(pipe.push(later.data(), 1951));
    pipe.drain();
    ASSERT_TRUE(h.done(0));
    EXPECT_EQ(h.storage[0][2048], 2048);
    EXPECT_EQ(h.storage[0][2049], 10000)
        << "what found no room was dropped; the next piece follows";
}

// A device thread pushing pieces and a drainer woken as the PortAudio backend wakes its worker:
// every sample arrives, in order, and no wake-up is lost (a lost one stalls the headers).
TEST(WaveInPipe, AWriterAndADrainerOnTwoThreadsLoseNothing) {
    WaveInQueue queue;
    WaveInPipe pipe(queue);
    ASSERT_TRUE(pipe.setUp(44100, 44100));
    constexpr int kHeaders = 4;
    constexpr std::uint32_t kSamples = 997; // not a multiple of the pieces
    Headers h(queue, kHeaders, kSamples);
    CountingSemaphore wake{0};
    std::atomic<bool> quit{false};
    std::thread drainer([&] {
        while (!quit.load()) {
            wake.acquire();
            pipe.drain();
        }
    });
    constexpr int kTotal = 1'000'000;
    std::atomic<int> queuedEver{kHeaders};
    std::thread writer([&] {
        // Pieces of 1 to 7 samples: many wake points crossed while the drainer sets the next.
        std::vector<std::int16_t> piece(7);
        for (int sent = 0, k = 0; sent < kTotal; ++k) {
            const int n = std::min<int>(1 + k % 7, kTotal - sent);
            for (int i = 0; i < n; ++i) piece[i] = static_cast<std::int16_t>((sent + i) & 0x7fff);
            // Only sound that has a header to go to: the headers' reader here is slower than a
            // program's, and what finds none is rightly dropped.
            while (sent + n > queuedEver.load() * static_cast<int>(kSamples)) {
                if (quit.load()) return;
                std::this_thread::yield();
            }
            if (pipe.push(piece.data(), n)) wake.release();
            sent += n;
        }
    });
    int expected = 0;
    bool inOrder = true;
    int stalledAt = -1;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    for (int c = 0; stalledAt < 0 && expected + static_cast<int>(kSamples) <= kTotal; ++c) {
        const int i = c % kHeaders;
        while (!h.done(i) && stalledAt < 0) {
            if (std::chrono::steady_clock::now() > deadline) stalledAt = c;
            std::this_thread::yield();
        }
        if (stalledAt >= 0) break;
        for (std::uint32_t k = 0; k < kSamples; ++k)
            inOrder =
                inOrder && h.storage[i][k] == static_cast<std::int16_t>((expected + k) & 0x7fff);
        expected += kSamples;
        h.requeue(queue, i);
        ++queuedEver;
    }
    // The writer stops at its next wait (only the tail no header checks is left, or the run
    // stalled), so a stalled run ends both threads and the suite's other tests still report.
    quit.store(true);
    writer.join();
    wake.release();
    drainer.join();
    EXPECT_LT(stalledAt, 0) << "stalled at header " << stalledAt;
    EXPECT_TRUE(inOrder);
    EXPECT_EQ(queue.droppedBytes(), 0u);
}

} // namespace
