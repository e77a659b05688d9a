// SPDX-License-Identifier: GPL-3.0-or-later
// Captures a tone through the capture module on the real sound input (the sound server itself, or
// PortAudio with TONVAULT_SOUND_INPUT=portaudio) and checks that the
// strongest bin of the FFT engine's output is the tone's. Meant to run under scripts/harness/with-pulse,
// which plays the tone into a private null sink:
//
//   capture_tone_test RATE TONE_HZ      (N = RATE, so bin k is k Hz)
//   capture_tone_test vanish            (the server is killed mid-capture: nothing may hang)
//   capture_tone_test inputs            (beside --sink det:700 --sink mic:300: the inputs listed,
//                                        each chosen one's tone, det unplugged mid-capture, the
//                                        server stopped at the open)
//
// Also checks that nothing reached stderr on the way (ALSA/JACK probing chatter).
// Exit status: 0 pass, 1 fail, 77 skipped (no input device to test with).
#include "capture/mSound.h"
#include "fft/clsFourier.h"
#include "platform/sound/wave_in.h"
#include "platform/sound/wave_in_system.h"
#include "platform/system/message_box.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// Keeps fd 2 in a temporary file while it lives; text() says what was printed.
class StderrCapture {
public:
    StderrCapture() {
        std::fflush(stderr);
        std::snprintf(path_, sizeof path_, "/tmp/tonvault-audio-stderr-XXXXXX");
        file_ = ::mkstemp(path_);
        saved_ = ::dup(2);
        if (file_ >= 0) ::dup2(file_, 2);
    }
    ~StderrCapture() { restore(); }
    std::string restore() {
        if (saved_ < 0) return text_;
        std::fflush(stderr);
        ::dup2(saved_, 2);
        ::close(saved_);
        saved_ = -1;
        if (file_ >= 0) {
            ::lseek(file_, 0, SEEK_SET);
            char buf[1024];
            for (ssize_t n; (n = ::read(file_, buf, sizeof buf)) > 0;) text_.append(buf, n);
            ::close(file_);
            ::unlink(path_);
        }
        return text_;
    }

private:
    char path_[64];
    int file_ = -1;
    int saved_ = -1;
    std::string text_;
};

struct Result {
    bool ok = false;
    std::string why;
    std::vector<int> peaks;     // strongest bin of each frame checked
    std::vector<double> ratios; // its magnitude over the median magnitude
};

// Waits (without spinning) for the next frame; false after the deadline.
bool NextFrame(std::chrono::steady_clock::time_point deadline) {
    while (!mSound::BufferReady()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        platform::WaveInWaitForCompletion(static_cast<int>(std::min<long long>(left.count(), 200)));
    }
    return true;
}

Result Capture(std::int32_t rate, int toneHz) {
    Result r;
    const std::int32_t N = rate;
    if (!mSound::StartCapture(N, rate)) {
        r.why = "StartCapture failed";
        return r;
    }
    clsFourier fourier;
    fourier.NumberOfSamples(N);
    fourier.WithTimeWindow(-1);
    // Frames 1 and 2 may still hold the resampler's start and an offset from before; check 3 to 5.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    for (int frame = 1; frame <= 5; ++frame) {
        if (!NextFrame(deadline)) {
            r.why = "no frame " + std::to_string(frame) + " within 20 s";
            mSound::StopCapture();
            return r;
        }
        if (frame < 3) {
            mSound::nuStartIndex += N;
            continue;
        }
        for (std::int32_t i = 0; i < N; ++i)
            fourier.RealIn(i + 1, mSound::SampleAt(mSound::nuStartIndex + i, N));
        mSound::nuStartIndex += N;
        std::vector<double> mags(N / 2);
        for (std::int32_t k = 1; k < N / 2; ++k) mags[k] = fourier.ComplexOut(k + 1);
        const int peak =
            static_cast<int>(std::max_element(mags.begin() + 1, mags.end()) - mags.begin());
        std::vector<double> sorted(mags.begin() + 1, mags.end());
        std::nth_element(sorted.begin(), sorted.begin() + sorted.size() / 2, sorted.end());
        const double median = sorted[sorted.size() / 2];
        r.peaks.push_back(peak);
        r.ratios.push_back(median > 0 ? mags[peak] / median : INFINITY);
    }
    mSound::StopCapture();
    r.ok = true;
    for (int p : r.peaks)
        if (std::abs(p - toneHz) > 1) r.ok = false;
    if (!r.ok) r.why = "strongest bin is not within one bin of the tone";
    return r;
}

double SecondsSince(std::chrono::steady_clock::time_point t) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}

// Polls the running capture as the loop does, up to `seconds`; the seconds it took to fail, or -1.
double SecondsUntilLost(double seconds) {
    const auto t = std::chrono::steady_clock::now();
    while (SecondsSince(t) < seconds) {
        if (mSound::BufferReady()) mSound::nuStartIndex += mSound::nuBufferSamples;
        if (!mSound::CaptureRunning()) return SecondsSince(t);
        platform::WaveInWaitForCompletion(50);
    }
    return -1;
}

// Kills the sound server after two frames. The loop must keep running (BufferReady answering at
// once, no new frames once the device is gone), stopping must return, and starting again must
// end in a message instead of hanging or crashing.
int Vanish() {
    const char* serverPid = std::getenv("WITH_PULSE_SERVER_PID");
    if (!serverPid) {
        std::printf("SKIPPED: needs the server's process id from scripts/harness/with-pulse\n");
        return 77;
    }
    platform::MessageBoxRecorder boxes;
    std::string chosen;
    const auto input = platform::MakeSystemWaveIn(&chosen);
    platform::SetWaveInBackend(input.get());
    std::printf("sound input: %s\n", chosen.c_str());
    if (!mSound::CheckInputDevice()) {
        std::printf("SKIPPED: no input device\n");
        return 77;
    }
    const std::int32_t N = 2048;
    bool ok = mSound::StartCapture(N, 8192);
    int before = 0;
    auto t = std::chrono::steady_clock::now();
    while (ok && before < 2 && SecondsSince(t) < 10) {
        if (mSound::BufferReady()) {
            mSound::nuStartIndex += N;
            ++before;
        } else {
            platform::WaveInWaitForCompletion(100);
        }
    }
    std::printf("%d frames before the server was killed\n", before);
    if (before < 2) {
        std::printf("FAIL: capture did not run before the server was killed\n");
        return 1;
    }
    ::kill(static_cast<pid_t>(std::atol(serverPid)), SIGKILL);

    int after = 0;
    long calls = 0;
    double slowest = 0;
    t = std::chrono::steady_clock::now();
    while (SecondsSince(t) < 4) {
        const auto c = std::chrono::steady_clock::now();
        const bool ready = mSound::BufferReady();
        slowest = std::max(slowest, SecondsSince(c));
        ++calls;
        if (ready) {
            mSound::nuStartIndex += N;
            ++after;
        } else {
            platform::WaveInWaitForCompletion(50);
        }
    }
    t = std::chrono::steady_clock::now();
    mSound::StopCapture();
    const double stopSeconds = SecondsSince(t);
    t = std::chrono::steady_clock::now();
    const bool restarted = mSound::StartCapture(N, 8192);
    const double restartSeconds = SecondsSince(t);
    // A server that is not there refuses at once. One that half answers (PipeWire's pulse server
    // without its core) leaves the open waiting beside the program, which gives it up after its
    // wait; either way one box and no recording.
    const double lostAfter = restarted ? SecondsUntilLost(10) : 0;
    mSound::StopCapture();
    platform::SetWaveInBackend(nullptr);

    std::printf("after the kill: %d frames in %ld calls, slowest BufferReady %.4f s\n", after,
                calls, slowest);
    std::printf("StopCapture %.3f s; StartCapture again: %s in %.3f s", stopSeconds,
                restarted ? "returned" : "failed", restartSeconds);
    if (restarted) std::printf(", the capture given up %.1f s later", lostAfter);
    std::printf("\n");
    for (const auto& m : boxes.messages())
        std::printf("message box \"%s\": %s\n", m.title.c_str(), m.text.c_str());
    if (after > 2 || slowest > 0.5 || stopSeconds > 5 || restartSeconds > 5 || lostAfter < 0 ||
        boxes.messages().size() != 1) {
        std::printf("FAIL\n");
        return 1;
    }
    std::printf("PASS\n");
    return 0;
}

// The capture module's view of the server's inputs, at most `seconds` after connecting (the list
// arrives beside the program).
std::vector<platform::WaveInInput> ListedInputs(double seconds) {
    const auto t = std::chrono::steady_clock::now();
    std::vector<platform::WaveInInput> inputs = mSound::Inputs();
    while (inputs.size() < 2 && SecondsSince(t) < seconds) {
        ::usleep(100'000);
        inputs = mSound::Inputs();
    }
    return inputs;
}

int Inputs() {
    const char* control = std::getenv("WITH_SOUND_CONTROL");
    if (!control) {
        std::printf("SKIPPED: needs scripts/harness/with-pulse --sink det:700 --sink mic:300\n");
        return 77;
    }
    const auto run = [control](const std::string& what) {
        return std::system((std::string(control) + " " + what).c_str()) == 0;
    };
    platform::MessageBoxRecorder boxes;
    std::string chosen;
    const auto input = platform::MakeSystemWaveIn(&chosen);
    if (chosen != "pulse") {
        std::printf("SKIPPED: the inputs are the server's own (sound input: %s)\n", chosen.c_str());
        return 77;
    }
    platform::SetWaveInBackend(input.get());
    if (!mSound::CheckInputDevice()) return 77;
    bool ok = true;
    const auto expect = [&ok](bool what, const std::string& why) {
        std::printf("%s: %s\n", what ? "ok" : "FAIL", why.c_str());
        ok = ok && what;
    };

    const auto inputs = ListedInputs(3);
    std::string detKey, micKey;
    for (const auto& i : inputs) {
        std::printf("input \"%s\" (%s)%s\n", i.description.c_str(), i.key.c_str(),
                    i.isDefault ? ", the default" : "");
        if (i.description == "Monitor of det" && i.isDefault) detKey = i.key;
        if (i.description == "Monitor of mic" && !i.isDefault) micKey = i.key;
    }
    expect(!detKey.empty() && !micKey.empty(), "both inputs listed, det the default");

    // Each one chosen records its own tone, named while it records.
    for (const auto& [key, tone] : {std::pair{micKey, 300}, std::pair{detKey, 700}}) {
        mSound::ChooseInput(key);
        const Result r = Capture(2048, tone);
        expect(r.ok, key + " records " + std::to_string(tone) + " Hz" + (r.ok ? "" : ": " + r.why));
    }
    mSound::ChooseInput("");
    if (mSound::StartCapture(2048, 2048)) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        expect(NextFrame(deadline), "the default records");
        expect(mSound::InputInUse() == "Monitor of det",
               "the default is named after its source: " + mSound::InputInUse());
        // Unplugged mid-capture: the capture ends and names it, and no other input takes over.
        boxes.clear();
        expect(run("unload det"), "det unloaded");
        const double lost = SecondsUntilLost(5);
        expect(lost >= 0, "the capture ended " + std::to_string(lost) + " s after");
        expect(boxes.messages().size() == 1 &&
                   boxes.messages()[0].text == "The input \"Monitor of det\" was removed.",
               "one box: " + (boxes.messages().empty() ? "" : boxes.messages()[0].text));
    } else {
        expect(false, "the default did not start");
    }

    // The server stopped: the open returns at once, then fails after its wait, in those words.
    boxes.clear();
    expect(run("stop"), "the server stopped");
    auto t = std::chrono::steady_clock::now();
    const bool started = mSound::StartCapture(2048, 2048);
    const double opening = SecondsSince(t);
    expect(started && opening < 0.5, "StartCapture returned in " + std::to_string(opening) + " s");
    const double lost = started ? SecondsUntilLost(10) : -1;
    expect(lost > 4 && lost < 7, "it failed " + std::to_string(lost) + " s later");
    expect(boxes.messages().size() == 1 &&
               boxes.messages()[0].text.find("the sound server did not answer") !=
                   std::string::npos,
           "one box: " + (boxes.messages().empty() ? "" : boxes.messages()[0].text));
    expect(run("cont"), "the server continued");
    t = std::chrono::steady_clock::now();
    if (mSound::StartCapture(2048, 2048)) {
        expect(NextFrame(std::chrono::steady_clock::now() + std::chrono::seconds(10)),
               "records again after the server continued");
        mSound::StopCapture();
    } else {
        expect(false, "StartCapture after the server continued");
    }
    platform::SetWaveInBackend(nullptr);
    std::printf("%s\n", ok ? "PASS" : "FAIL");
    return ok ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::string(argv[1]) == "vanish") return Vanish();
    if (argc == 2 && std::string(argv[1]) == "inputs") return Inputs();
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s RATE TONE_HZ | vanish\n", argv[0]);
        return 2;
    }
    const std::int32_t rate = std::atoi(argv[1]);
    const int tone = std::atoi(argv[2]);

    platform::MessageBoxRecorder boxes;
    Result result;
    std::uint32_t devices = 0;
    std::string deviceName;
    std::string chosen;
    std::string initError;
    std::string printed;
    {
        StderrCapture quiet;
        {
            const auto input = platform::MakeSystemWaveIn(&chosen, &initError);
            platform::SetWaveInBackend(input.get());
            devices = platform::waveInGetNumDevs();
            if (mSound::CheckInputDevice()) {
                deviceName = mSound::tCaps.szPname;
                result = Capture(rate, tone);
            }
            platform::SetWaveInBackend(nullptr);
        } // closing the input (Pa_Terminate, libpulse's disconnection) belongs to a normal run too
        printed = quiet.restore();
    }

    std::printf("rate %d, tone %d Hz, sound input %s, %u input device(s)%s%s\n", rate, tone,
                chosen.c_str(), devices, deviceName.empty() ? "" : ", using ", deviceName.c_str());
    if (!initError.empty()) std::printf("not used: %s\n", initError.c_str());
    for (const auto& m : boxes.messages())
        std::printf("message box \"%s\": %s\n", m.title.c_str(), m.text.c_str());
    if (devices == 0) {
        std::printf("SKIPPED: no input device (is a sound server running?)\n");
        return 77;
    }
    for (std::size_t i = 0; i < result.peaks.size(); ++i)
        std::printf("frame %zu: strongest bin %d (%d Hz expected), %.0f x the median\n", i + 3,
                    result.peaks[i], tone, result.ratios[i]);
    if (!printed.empty()) {
        std::printf("FAIL: stderr was not quiet:\n%s\n", printed.c_str());
        return 1;
    }
    std::printf("stderr: nothing printed\n");
    if (!result.ok) {
        std::printf("FAIL: %s\n", result.why.c_str());
        return 1;
    }
    std::printf("PASS\n");
    return 0;
}
