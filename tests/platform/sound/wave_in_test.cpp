// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/sound/wave_in.h"
#include "platform/sound/wave_in_simulated.h"
#include "platform/system/global_memory.h"
#include "platform/system/perf_counter.h"

#include "support/wave_in_errors.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

using namespace platform;

namespace {

using test_support::ErrorText;
using test_support::Mono16;

// An open simulated device with `count` prepared headers of `samples` samples each.
struct OpenDevice {
    explicit OpenDevice(SimulatedWaveIn& sim, int count = 2, std::uint32_t samples = 4,
                        std::uint32_t rate = 8000)
        : storage(count, std::vector<std::int16_t>(samples)), headers(count) {
        const WAVEFORMATEX f = Mono16(rate);
        EXPECT_EQ(waveInOpen(&handle, 0, &f, 0, 0, 0), MMSYSERR_NOERROR);
        for (int i = 0; i < count; ++i) {
            headers[i].lpData = reinterpret_cast<char*>(storage[i].data());
            headers[i].dwBufferLength = samples * 2;
            EXPECT_EQ(waveInPrepareHeader(handle, &headers[i], sizeof(WAVEHDR)), MMSYSERR_NOERROR);
        }
        (void)sim;
    }
    ~OpenDevice() {
        waveInReset(handle);
        for (auto& h : headers) waveInUnprepareHeader(handle, &h, sizeof(WAVEHDR));
        waveInClose(handle);
    }
    MMRESULT add(int i) { return waveInAddBuffer(handle, &headers[i], sizeof(WAVEHDR)); }
    bool done(int i) const { return headers[i].dwFlags.load() & WHDR_DONE; }
    bool queued(int i) const { return headers[i].dwFlags.load() & WHDR_INQUEUE; }

    HWAVEIN handle = 0;
    std::vector<std::vector<std::int16_t>> storage;
    std::vector<WAVEHDR> headers;
};

} // namespace

TEST(WaveIn, WithoutBackendThereAreNoDevices) {
    ASSERT_EQ(CurrentWaveInBackend(), nullptr);
    EXPECT_EQ(waveInGetNumDevs(), 0u);
    WAVEINCAPSA caps;
    EXPECT_EQ(waveInGetDevCapsA(0, &caps, sizeof caps), MMSYSERR_BADDEVICEID);
    HWAVEIN h = 123;
    const WAVEFORMATEX f = Mono16(8000);
    EXPECT_EQ(waveInOpen(&h, 0, &f, 0, 0, 0), MMSYSERR_BADDEVICEID);
    EXPECT_EQ(h, 0u);
}

TEST(WaveIn, DevicesAndCapsComeFromTheInstalledBackendAndGoWithIt) {
    {
        SimulatedWaveIn sim({{"first", WAVE_FORMAT_1M08}, {"second", WAVE_FORMAT_4M16}});
        ASSERT_EQ(waveInGetNumDevs(), 2u);
        WAVEINCAPSA caps;
        ASSERT_EQ(waveInGetDevCapsA(1, &caps, sizeof caps), MMSYSERR_NOERROR);
        EXPECT_STREQ(caps.szPname, "second");
        EXPECT_EQ(caps.dwFormats, WAVE_FORMAT_4M16);
        EXPECT_EQ(waveInGetDevCapsA(2, &caps, sizeof caps), MMSYSERR_BADDEVICEID);
        EXPECT_EQ(waveInGetDevCapsA(0, &caps, 20), MMSYSERR_INVALPARAM);
        EXPECT_EQ(waveInGetDevCapsA(0, nullptr, sizeof caps), MMSYSERR_INVALPARAM);
    }
    EXPECT_EQ(waveInGetNumDevs(), 0u);
}

TEST(WaveIn, OpenRefusesWhatItCannotRecord) {
    SimulatedWaveIn sim;
    HWAVEIN h = 0;
    WAVEFORMATEX f = Mono16(8000);
    f.nChannels = 2;
    f.nBlockAlign = 4;
    EXPECT_EQ(waveInOpen(&h, 0, &f, 0, 0, 0), WAVERR_BADFORMAT);
    EXPECT_NE(ErrorText(WAVERR_BADFORMAT).find("16-bit mono"), std::string::npos);
    f = Mono16(999);
    EXPECT_EQ(waveInOpen(&h, 0, &f, 0, 0, 0), WAVERR_BADFORMAT);
    EXPECT_NE(ErrorText(WAVERR_BADFORMAT).find("999"), std::string::npos);
    f = Mono16(8000);
    EXPECT_EQ(waveInOpen(&h, 0, &f, 0, 0, 0x30000 /* a callback kind */), MMSYSERR_INVALFLAG);
    EXPECT_EQ(waveInOpen(nullptr, 0, &f, 0, 0, 0), MMSYSERR_INVALPARAM);
    EXPECT_EQ(waveInOpen(&h, 0, nullptr, 0, 0, 0), MMSYSERR_INVALPARAM);
    EXPECT_EQ(h, 0u);
    EXPECT_FALSE(sim.isOpen());
}

TEST(WaveIn, HeaderRulesFollowTheirState) {
    SimulatedWaveIn sim;
    OpenDevice d(sim, 1);
    WAVEHDR loose; // never prepared
    std::int16_t data[4];
    loose.lpData = reinterpret_cast<char*>(data);
    loose.dwBufferLength = sizeof data;
    EXPECT_EQ(waveInAddBuffer(d.handle, &loose, sizeof loose), WAVERR_UNPREPARED);
    EXPECT_EQ(waveInPrepareHeader(d.handle, &loose, sizeof loose + 8), MMSYSERR_INVALPARAM);
    WAVEHDR empty;
    EXPECT_EQ(waveInPrepareHeader(d.handle, &empty, sizeof empty), MMSYSERR_INVALPARAM);

    ASSERT_EQ(d.add(0), MMSYSERR_NOERROR);
    EXPECT_TRUE(d.queued(0));
    EXPECT_EQ(d.add(0), WAVERR_STILLPLAYING);
    EXPECT_EQ(waveInUnprepareHeader(d.handle, &d.headers[0], sizeof(WAVEHDR)), WAVERR_STILLPLAYING);
    EXPECT_EQ(waveInClose(d.handle), WAVERR_STILLPLAYING);
    EXPECT_TRUE(sim.isOpen());

    EXPECT_EQ(waveInReset(d.handle), MMSYSERR_NOERROR);
    EXPECT_TRUE(d.done(0));
    EXPECT_FALSE(d.queued(0));
    EXPECT_EQ(waveInUnprepareHeader(d.handle, &d.headers[0], sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    EXPECT_FALSE(d.headers[0].dwFlags.load() & WHDR_PREPARED);
    EXPECT_EQ(waveInClose(d.handle), MMSYSERR_NOERROR);
    EXPECT_FALSE(sim.isOpen());
    // A closed handle is refused everywhere, without touching the header.
    EXPECT_EQ(waveInAddBuffer(d.handle, &d.headers[0], sizeof(WAVEHDR)), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(waveInStart(d.handle), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(waveInReset(d.handle), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(waveInClose(d.handle), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(waveInReset(0), MMSYSERR_INVALHANDLE);
}

TEST(WaveIn, BuffersFillInQueueOrderAndSamplesWithoutABufferAreDropped) {
    SimulatedWaveIn sim;
    sim.setSource(SampleSource::Sequence({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));
    OpenDevice d(sim, 2, 4);
    ASSERT_EQ(d.add(1), MMSYSERR_NOERROR); // queued first, so filled first
    ASSERT_EQ(d.add(0), MMSYSERR_NOERROR);
    EXPECT_EQ(sim.feed(3), 0u) << "nothing is recorded before start";
    ASSERT_EQ(waveInStart(d.handle), MMSYSERR_NOERROR);

    EXPECT_EQ(sim.feed(6), 6u); // all of header 1 and half of header 0
    EXPECT_TRUE(d.done(1));
    EXPECT_FALSE(d.done(0));
    EXPECT_EQ(d.headers[1].dwBytesRecorded, 8u);
    EXPECT_EQ(d.storage[1], (std::vector<std::int16_t>{1, 2, 3, 4}));

    EXPECT_EQ(sim.feed(5), 2u); // header 0 completes; three samples find no buffer
    EXPECT_TRUE(d.done(0));
    EXPECT_EQ(d.storage[0], (std::vector<std::int16_t>{5, 6, 7, 8}));

    ASSERT_EQ(d.add(1), MMSYSERR_NOERROR); // re-queued: clears done, continues the stream
    EXPECT_FALSE(d.done(1));
    EXPECT_TRUE(sim.completeBuffer());
    EXPECT_EQ(d.storage[1], (std::vector<std::int16_t>{12, 1, 2, 3}));
    EXPECT_FALSE(sim.completeBuffer()) << "nothing queued";
}

TEST(WaveIn, ResetReturnsThePartlyFilledBufferWithWhatItHolds) {
    SimulatedWaveIn sim;
    OpenDevice d(sim, 2, 4);
    ASSERT_EQ(d.add(0), MMSYSERR_NOERROR);
    ASSERT_EQ(d.add(1), MMSYSERR_NOERROR);
    ASSERT_EQ(waveInStart(d.handle), MMSYSERR_NOERROR);
    sim.feed(3);
    ASSERT_EQ(waveInReset(d.handle), MMSYSERR_NOERROR);
    EXPECT_FALSE(sim.isStarted());
    EXPECT_TRUE(d.done(0) && d.done(1));
    EXPECT_EQ(d.headers[0].dwBytesRecorded, 6u);
    EXPECT_EQ(d.headers[1].dwBytesRecorded, 0u);
    EXPECT_EQ(sim.queuedBuffers(), 0u);
    // Recording can start again on the same device.
    ASSERT_EQ(d.add(0), MMSYSERR_NOERROR);
    ASSERT_EQ(waveInStart(d.handle), MMSYSERR_NOERROR);
    EXPECT_TRUE(sim.completeBuffer());
    EXPECT_TRUE(d.done(0));
}

TEST(WaveIn, EachCompletedBufferIsSignalledToTheWaiterAndTheListener) {
    SimulatedWaveIn sim;
    OpenDevice d(sim, 2, 4);
    std::atomic<int> heard{0};
    SetWaveInCompletionListener([](void* n) { ++*static_cast<std::atomic<int>*>(n); }, &heard);
    WaveInClearCompletions();
    ASSERT_EQ(d.add(0), MMSYSERR_NOERROR);
    ASSERT_EQ(waveInStart(d.handle), MMSYSERR_NOERROR);
    EXPECT_FALSE(WaveInWaitForCompletion(10));
    sim.feed(3);
    EXPECT_FALSE(WaveInWaitForCompletion(0)) << "a partly filled buffer is not a completion";
    EXPECT_EQ(heard.load(), 0);
    sim.feed(1);
    EXPECT_EQ(heard.load(), 1);
    EXPECT_TRUE(WaveInWaitForCompletion(0));
    EXPECT_FALSE(WaveInWaitForCompletion(0)) << "waiting consumes the notification";

    // A completion on another thread wakes a waiter that is already waiting.
    ASSERT_EQ(d.add(1), MMSYSERR_NOERROR);
    std::thread recorder([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        sim.feed(4);
    });
    const auto t = std::chrono::steady_clock::now();
    EXPECT_TRUE(WaveInWaitForCompletion(5000));
    EXPECT_LT(std::chrono::steady_clock::now() - t, std::chrono::seconds(2));
    recorder.join();
    EXPECT_EQ(heard.load(), 2);
    SetWaveInCompletionListener(nullptr, nullptr);
    waveInReset(d.handle);
    EXPECT_EQ(heard.load(), 2) << "removed: not called again";
}

TEST(WaveIn, ADeviceThatDisappearsStopsCompletingAndIsStillReleased) {
    SimulatedWaveIn sim;
    std::vector<std::int16_t> a(4), b(4);
    WAVEHDR h[2];
    h[0].lpData = reinterpret_cast<char*>(a.data());
    h[1].lpData = reinterpret_cast<char*>(b.data());
    h[0].dwBufferLength = h[1].dwBufferLength = 8;
    HWAVEIN handle = 0;
    const WAVEFORMATEX f = Mono16(8000);
    ASSERT_EQ(waveInOpen(&handle, 0, &f, 0, 0, 0), MMSYSERR_NOERROR);
    for (auto& x : h) {
        ASSERT_EQ(waveInPrepareHeader(handle, &x, sizeof x), MMSYSERR_NOERROR);
        ASSERT_EQ(waveInAddBuffer(handle, &x, sizeof x), MMSYSERR_NOERROR);
    }
    ASSERT_EQ(waveInStart(handle), MMSYSERR_NOERROR);
    ASSERT_TRUE(sim.completeBuffer());

    sim.disappear();
    EXPECT_FALSE(sim.completeBuffer());
    EXPECT_EQ(sim.feed(100), 0u);
    EXPECT_FALSE(h[1].dwFlags.load() & WHDR_DONE);
    EXPECT_EQ(waveInAddBuffer(handle, &h[0], sizeof h[0]), MMSYSERR_NODRIVER);
    // Closing without a reset still releases it, and says what happened.
    EXPECT_EQ(waveInClose(handle), MMSYSERR_NODRIVER);
    EXPECT_FALSE(sim.isOpen());
    EXPECT_TRUE(h[1].dwFlags.load() & WHDR_DONE) << "queued buffers are handed back";
    EXPECT_EQ(waveInReset(handle), MMSYSERR_INVALHANDLE);
    HWAVEIN again = 0;
    EXPECT_EQ(waveInOpen(&again, 0, &f, 0, 0, 0), MMSYSERR_NODRIVER);
    EXPECT_EQ(again, 0u);
}

TEST(WaveInErrorText, EveryCodeHasItsOwnTextAndUnknownCodesSaySo) {
    const MMRESULT codes[] = {MMSYSERR_ERROR,        MMSYSERR_BADDEVICEID, MMSYSERR_ALLOCATED,
                              MMSYSERR_INVALHANDLE,  MMSYSERR_NODRIVER,    MMSYSERR_NOMEM,
                              MMSYSERR_NOTSUPPORTED, MMSYSERR_INVALFLAG,   MMSYSERR_INVALPARAM,
                              WAVERR_BADFORMAT,      WAVERR_STILLPLAYING,  WAVERR_UNPREPARED};
    std::vector<std::string> seen;
    SimulatedWaveIn sim; // a fresh call forgets any earlier detail
    waveInGetNumDevs();
    WAVEINCAPSA caps;
    waveInGetDevCapsA(0, &caps, sizeof caps);
    for (MMRESULT c : codes) {
        char text[MAXERRORLENGTH] = "unchanged";
        EXPECT_EQ(waveInGetErrorTextA(c, text, sizeof text), MMSYSERR_NOERROR);
        EXPECT_GT(std::string(text).size(), 10u);
        for (const auto& s : seen) EXPECT_NE(s, text);
        seen.push_back(text);
    }
    char text[MAXERRORLENGTH];
    EXPECT_EQ(waveInGetErrorTextA(4242, text, sizeof text), MMSYSERR_BADERRNUM);
    EXPECT_NE(std::string(text).find("4242"), std::string::npos);
    char small[8];
    EXPECT_EQ(waveInGetErrorTextA(WAVERR_BADFORMAT, small, sizeof small), MMSYSERR_NOERROR);
    EXPECT_EQ(std::string(small).size(), 7u);
    EXPECT_EQ(waveInGetErrorTextA(WAVERR_BADFORMAT, nullptr, 10), MMSYSERR_INVALPARAM);
}

TEST(WaveInErrorText, ABackendsDetailGoesOnlyWithItsCodeAndOnlyUntilTheNextCall) {
    SimulatedWaveIn sim;
    HWAVEIN h = 0;
    const WAVEFORMATEX bad = Mono16(500);
    ASSERT_EQ(waveInOpen(&h, 0, &bad, 0, 0, 0), WAVERR_BADFORMAT);
    EXPECT_NE(ErrorText(WAVERR_BADFORMAT).find("500"), std::string::npos);
    EXPECT_EQ(ErrorText(MMSYSERR_ERROR).find("500"), std::string::npos);
    waveInReset(0);
    EXPECT_EQ(ErrorText(WAVERR_BADFORMAT).find("500"), std::string::npos);
}

TEST(GlobalMemory, BlocksAreCountedAndADoubleFreeIsRefused) {
    const std::size_t before = GlobalBlocksInUse();
    HGLOBAL a = GlobalAlloc(GMEM_FIXED | GMEM_ZEROINIT, 16);
    ASSERT_NE(a, nullptr);
    auto* p = static_cast<unsigned char*>(GlobalLock(a));
    ASSERT_EQ(p, a);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(p[i], 0);
    EXPECT_EQ(GlobalBlocksInUse(), before + 1);
    EXPECT_EQ(GlobalAlloc(GMEM_FIXED, 0), nullptr);
    EXPECT_EQ(GlobalFree(a), nullptr);
    EXPECT_EQ(GlobalBlocksInUse(), before);
    EXPECT_EQ(GlobalFree(a), a) << "second free refused";
    EXPECT_EQ(GlobalLock(a), nullptr);
    EXPECT_EQ(GlobalFree(nullptr), nullptr);

    char overlap[] = "abcdef";
    RtlMoveMemory(overlap + 2, overlap, 4);
    EXPECT_STREQ(overlap, "ababcd");
}

TEST(WaveIn, StatusCountsSilenceOnlyWhileRecordingWithABufferQueued) {
    SimulatedWaveIn sim;
    ManualClock clock;
    OpenDevice d(sim, 2, 8000, 8000); // buffers of 1 s: silent for more than 4 s is lost
    EXPECT_EQ(WaveInDeviceStatus(0), MMSYSERR_INVALHANDLE);
    clock.advanceMs(10'000);
    EXPECT_EQ(WaveInDeviceStatus(d.handle), MMSYSERR_NOERROR) << "not started";
    ASSERT_EQ(d.add(0), MMSYSERR_NOERROR);
    ASSERT_EQ(waveInStart(d.handle), MMSYSERR_NOERROR);
    clock.advanceMs(3900);
    EXPECT_EQ(WaveInDeviceStatus(d.handle), MMSYSERR_NOERROR);
    ASSERT_TRUE(sim.completeBuffer());
    clock.advanceMs(10'000);
    EXPECT_EQ(WaveInDeviceStatus(d.handle), MMSYSERR_NOERROR) << "a completion was seen";
    clock.advanceMs(10'000);
    EXPECT_EQ(WaveInDeviceStatus(d.handle), MMSYSERR_NOERROR) << "nothing queued to fill";
    ASSERT_EQ(d.add(1), MMSYSERR_NOERROR);
    clock.advanceMs(4100);
    EXPECT_EQ(WaveInDeviceStatus(d.handle), MMSYSERR_NODRIVER);
    EXPECT_EQ(ErrorText(MMSYSERR_NODRIVER),
              "The sound input device is no longer available; it may have been unplugged: no "
              "sound has arrived for 4.1 seconds (input \"Simulated input\").");
}

TEST(WaveIn, StatusOfAFailedDeviceSaysWhatHappenedAndWakesTheWaiter) {
    SimulatedWaveIn sim;
    OpenDevice d(sim);
    ASSERT_EQ(d.add(0), MMSYSERR_NOERROR);
    ASSERT_EQ(waveInStart(d.handle), MMSYSERR_NOERROR);
    WaveInClearCompletions();
    sim.disappear();
    EXPECT_TRUE(WaveInWaitForCompletion(0)) << "the waiting program hears of it at once";
    EXPECT_EQ(WaveInDeviceStatus(d.handle), MMSYSERR_NODRIVER);
    EXPECT_NE(ErrorText(MMSYSERR_NODRIVER).find("the simulated device went away"),
              std::string::npos);
}

// ---- the input recorded ----------------------------------------------------------------------

TEST(WaveInInputs, EachDeviceIsAnInputAndAChoiceOpensItInPlaceOfTheOneAskedFor) {
    SimulatedWaveIn sim({{"Line in"}, {"USB Detector"}, {"USB Detector"}});
    const std::vector<WaveInInput> inputs = WaveInInputs(1);
    ASSERT_EQ(inputs.size(), 3u);
    EXPECT_EQ(inputs[0].description, "Line in");
    EXPECT_EQ(inputs[1].description, "USB Detector");
    EXPECT_EQ(inputs[2].description, "USB Detector (2)") << "two of one make are told apart";
    EXPECT_EQ(inputs[2].key, inputs[2].description);
    EXPECT_FALSE(inputs[0].isDefault);
    EXPECT_TRUE(inputs[1].isDefault) << "the device asked for is what records unchosen";
    EXPECT_FALSE(inputs[2].isDefault);
    for (const WaveInInput& input : WaveInInputs(3)) EXPECT_FALSE(input.isDefault);

    const WAVEFORMATEX f = Mono16(8000);
    HWAVEIN h = 0;
    ASSERT_EQ(waveInOpen(&h, 1, &f, 0, 0, 0), MMSYSERR_NOERROR);
    EXPECT_EQ(sim.openedDevice(), 1u);
    EXPECT_EQ(WaveInInputName(h), "USB Detector");
    ASSERT_EQ(waveInClose(h), MMSYSERR_NOERROR);
    EXPECT_EQ(WaveInInputName(h), "") << "closed";

    WaveInChooseInput("USB Detector (2)");
    EXPECT_EQ(WaveInChosenInput(), "USB Detector (2)");
    ASSERT_EQ(waveInOpen(&h, 1, &f, 0, 0, 0), MMSYSERR_NOERROR);
    EXPECT_EQ(sim.openedDevice(), 2u);
    EXPECT_EQ(WaveInInputName(h), "USB Detector (2)");
    ASSERT_EQ(waveInClose(h), MMSYSERR_NOERROR);

    // Unplugged since: the open says so and records nothing else instead.
    sim.setDevices({{"Line in"}, {"USB Detector"}});
    EXPECT_EQ(waveInOpen(&h, 1, &f, 0, 0, 0), MMSYSERR_BADDEVICEID);
    EXPECT_EQ(h, 0u);
    EXPECT_FALSE(sim.isOpen());
    EXPECT_EQ(ErrorText(MMSYSERR_BADDEVICEID),
              "The input \"USB Detector (2)\" is not available; it may have been unplugged.");

    WaveInChooseInput("");
    ASSERT_EQ(waveInOpen(&h, 1, &f, 0, 0, 0), MMSYSERR_NOERROR);
    EXPECT_EQ(sim.openedDevice(), 1u);
    ASSERT_EQ(waveInClose(h), MMSYSERR_NOERROR);

    // A device's refusal in its own words is told of the input it was about.
    WaveInChooseInput("Line in");
    sim.failAt(SimulatedWaveIn::Step::Open, MMSYSERR_ALLOCATED, 0, "another program records it");
    EXPECT_EQ(waveInOpen(&h, 1, &f, 0, 0, 0), MMSYSERR_ALLOCATED);
    EXPECT_EQ(ErrorText(MMSYSERR_ALLOCATED), "The sound input device is already in use: another "
                                             "program records it (input \"Line in\").");

    WaveInChooseInput("Line in");
    SimulatedWaveIn other; // another backend: the choice was about the last one's inputs
    EXPECT_EQ(WaveInChosenInput(), "");
}

// A sound server may answer an open late: until then the device is neither silent nor lost; it
// fails by itself if the answer never comes, with the input named.
TEST(WaveInInputs, ADeviceStillOpeningIsNotSilentAndItsFailureNamesTheInput) {
    SimulatedWaveIn sim({{"Monitor of det"}});
    ManualClock clock;
    sim.holdOpening();
    OpenDevice d(sim, 2, 8000, 8000);
    ASSERT_EQ(d.add(0), MMSYSERR_NOERROR);
    ASSERT_EQ(waveInStart(d.handle), MMSYSERR_NOERROR);
    EXPECT_TRUE(sim.isOpening());
    clock.advanceMs(10'000);
    EXPECT_EQ(WaveInDeviceStatus(d.handle), MMSYSERR_NOERROR);
    EXPECT_FALSE(sim.completeBuffer()) << "nothing records before the open is done";

    WaveInClearCompletions();
    sim.finishOpening("the sound server did not answer");
    EXPECT_TRUE(WaveInWaitForCompletion(0)) << "the program hears of it at once";
    EXPECT_EQ(WaveInDeviceStatus(d.handle), MMSYSERR_NODRIVER);
    EXPECT_EQ(ErrorText(MMSYSERR_NODRIVER),
              "The sound input device is no longer available; it may have been unplugged: the "
              "sound server did not answer (input \"Monitor of det\").");
}

TEST(WaveInInputs, AnOpenThatEndsWellRecordsAndCountsSilenceFromThen) {
    SimulatedWaveIn sim;
    ManualClock clock;
    sim.holdOpening();
    OpenDevice d(sim, 2, 8000, 8000); // 1 s buffers: lost after 4 s without one
    ASSERT_EQ(d.add(0), MMSYSERR_NOERROR);
    ASSERT_EQ(waveInStart(d.handle), MMSYSERR_NOERROR);
    clock.advanceMs(6000);
    EXPECT_EQ(WaveInDeviceStatus(d.handle), MMSYSERR_NOERROR);
    sim.finishOpening();
    EXPECT_EQ(WaveInDeviceStatus(d.handle), MMSYSERR_NOERROR);
    ASSERT_TRUE(sim.completeBuffer());
    EXPECT_TRUE(d.done(0));
    ASSERT_EQ(d.add(1), MMSYSERR_NOERROR);
    EXPECT_EQ(WaveInDeviceStatus(d.handle), MMSYSERR_NOERROR) << "sees the completion";
    clock.advanceMs(3900);
    EXPECT_EQ(WaveInDeviceStatus(d.handle), MMSYSERR_NOERROR);
    clock.advanceMs(200);
    EXPECT_EQ(WaveInDeviceStatus(d.handle), MMSYSERR_NODRIVER);
}

TEST(WaveInInputs, ADeviceThatSaysWhatHappenedInItsOwnWordsIsQuotedWhole) {
    SimulatedWaveIn sim;
    OpenDevice d(sim);
    ASSERT_EQ(d.add(0), MMSYSERR_NOERROR);
    ASSERT_EQ(waveInStart(d.handle), MMSYSERR_NOERROR);
    sim.disappear("The input \"Detector (USB Audio Device)\" was removed.");
    EXPECT_EQ(WaveInDeviceStatus(d.handle), MMSYSERR_NODRIVER);
    EXPECT_EQ(ErrorText(MMSYSERR_NODRIVER),
              "The input \"Detector (USB Audio Device)\" was removed.");
    EXPECT_EQ(WaveInDeviceStatus(d.handle), MMSYSERR_NODRIVER);
    EXPECT_EQ(ErrorText(MMSYSERR_BADDEVICEID), "There is no sound input device with that number.")
        << "the words go with their code only";
}
