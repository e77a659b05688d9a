// SPDX-License-Identifier: GPL-3.0-or-later
// The capture chain on the real sound input (the server itself, or PortAudio with
// TONVAULT_SOUND_INPUT=portaudio) beside a sound server (scripts/harness/with-pulse or
// scripts/harness/with-pipewire, no tone of their own): for each rate, with N = rate, how regularly the
// capture buffers complete, how late a tone played into the sink reaches a completed buffer, and
// how flat the pass band and how deep the alias rejection are.
//
//   capture_cadence [--buffers K] [--check] [RATE...]     (default: 1024 ... 32768, K = 12)
//
// The tones come from a PortAudio output stream on ALSA's `default` (the server's default sink):
// silence first, then 0.1, 0.9 and 1.3 times the new Nyquist frequency together, each at a quarter
// of full scale. The tone's start in the sink is the output stream's DAC time of its first
// sample. With --check the exit status is 1 when a figure misses its bound, 77 when there is no
// device to measure.
#include "capture/mSound.h"
#include "platform/system/message_box.h"
#include "platform/sound/wave_in.h"
#include "platform/sound/wave_in_portaudio.h"
#include "platform/sound/wave_in_system.h"

#include <portaudio.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr double kPi = 3.14159265358979323846;
using Clock = std::chrono::steady_clock;

double Now() {
    return std::chrono::duration<double>(Clock::now().time_since_epoch()).count();
}

// The tone generator: silent until switched on; records when its first tone sample plays.
struct Generator {
    double rate = 44100;
    double hz[3] = {0, 0, 0};
    double phase[3] = {0, 0, 0};
    std::atomic<bool> on{false};
    std::atomic<bool> started{false};
    std::atomic<double> onsetAt{0}; // steady-clock seconds

    static int Callback(const void*, void* output, unsigned long frames,
                        const PaStreamCallbackTimeInfo* time, PaStreamCallbackFlags, void* self) {
        auto* g = static_cast<Generator*>(self);
        auto* out = static_cast<float*>(output);
        if (!g->on.load(std::memory_order_acquire)) {
            std::memset(out, 0, frames * sizeof(float));
            return paContinue;
        }
        if (!g->started.load(std::memory_order_relaxed)) {
            // The stream's clock and the steady clock differ by an offset taken now.
            const double offset = Now() - time->currentTime;
            g->onsetAt.store(time->outputBufferDacTime + offset, std::memory_order_release);
            g->started.store(true, std::memory_order_release);
        }
        for (unsigned long i = 0; i < frames; ++i) {
            float v = 0;
            for (int k = 0; k < 3; ++k) {
                v += static_cast<float>(0.25 * std::sin(g->phase[k]));
                g->phase[k] += 2 * kPi * g->hz[k] / g->rate;
                if (g->phase[k] > 2 * kPi) g->phase[k] -= 2 * kPi;
            }
            out[i] = v;
        }
        return paContinue;
    }
};

// A raw recording of the same source at the device's own rate: when the tone's first loud sample
// reaches a program that reads the server directly, without our chain.
struct Reference {
    double rate = 44100;
    std::atomic<bool> armed{false};
    std::atomic<double> arrivedAt{0};

    static int Callback(const void* input, void*, unsigned long frames,
                        const PaStreamCallbackTimeInfo*, PaStreamCallbackFlags, void* self) {
        auto* r = static_cast<Reference*>(self);
        if (!input || !r->armed.load(std::memory_order_acquire) || r->arrivedAt.load() != 0)
            return paContinue;
        const auto* x = static_cast<const std::int16_t*>(input);
        for (unsigned long i = 0; i < frames; ++i) {
            if (std::abs(x[i]) > 3277) {
                r->arrivedAt.store(Now() - static_cast<double>(frames - 1 - i) / r->rate);
                break;
            }
        }
        return paContinue;
    }
};

// The magnitude of one frequency in a Blackman-weighted block.
double Level(const std::int16_t* x, int n, double hz, double rate) {
    double re = 0, im = 0, w = 0;
    for (int i = 0; i < n; ++i) {
        const double a = 2 * kPi * i / (n - 1);
        const double h = 0.42 - 0.5 * std::cos(a) + 0.08 * std::cos(2 * a);
        re += h * x[i] * std::cos(2 * kPi * hz * i / rate);
        im += h * x[i] * std::sin(2 * kPi * hz * i / rate);
        w += h;
    }
    return 2 * std::sqrt(re * re + im * im) / w;
}

struct Row {
    int rate = 0;
    int intervals = 0;
    double shortest = 0, longest = 0, worst = 0; // s; worst |interval - N / rate|
    double delayMs = NAN;                        // from the tone's DAC time in the sink
    double addedMs = NAN;                        // beyond a raw read of the same source
    double passDb = NAN, aliasDb = NAN;
    std::string problem;
};

PaDeviceIndex DefaultOutput() {
    const PaHostApiIndex alsa = Pa_HostApiTypeIdToHostApiIndex(paALSA);
    for (PaDeviceIndex i = 0; i < Pa_GetDeviceCount(); ++i) {
        const PaDeviceInfo* info = Pa_GetDeviceInfo(i);
        if (info && info->maxOutputChannels > 0 && info->hostApi == alsa &&
            std::string(info->name) == "default")
            return i;
    }
    return Pa_GetDefaultOutputDevice();
}

Row Measure(int rate, int buffers) {
    Row row;
    row.rate = rate;
    const int N = rate;
    Generator gen;
    const PaDeviceIndex out = DefaultOutput();
    const PaDeviceInfo* info = out >= 0 ? Pa_GetDeviceInfo(out) : nullptr;
    if (!info) {
        row.problem = "no output device for the tones";
        return row;
    }
    gen.rate = info->defaultSampleRate;
    const double nyquist = rate / 2.0;
    gen.hz[0] = std::round(0.1 * nyquist);
    gen.hz[1] = std::round(0.9 * nyquist);
    gen.hz[2] = std::round(1.3 * nyquist);
    PaStreamParameters p{};
    p.device = out;
    p.channelCount = 1;
    p.sampleFormat = paFloat32;
    p.suggestedLatency = 0.1; // the DAC time allows for it; short buffers drop out
    PaStream* stream = nullptr;
    if (Pa_OpenStream(&stream, nullptr, &p, gen.rate, 256, paNoFlag, &Generator::Callback, &gen) !=
            paNoError ||
        Pa_StartStream(stream) != paNoError) {
        row.problem = "cannot play the tones";
        if (stream) Pa_CloseStream(stream);
        return row;
    }

    Reference ref;
    PaStream* raw = nullptr;
    if (const PaDeviceInfo* in = Pa_GetDeviceInfo(out); in && in->maxInputChannels > 0) {
        ref.rate = in->defaultSampleRate;
        PaStreamParameters q = p;
        q.sampleFormat = paInt16;
        q.suggestedLatency = in->defaultLowInputLatency;
        if (Pa_OpenStream(&raw, &q, nullptr, ref.rate, 256, paNoFlag, &Reference::Callback, &ref) !=
                paNoError ||
            Pa_StartStream(raw) != paNoError)
            raw = nullptr;
    }
    auto closeRaw = [&] {
        if (raw) Pa_CloseStream(raw);
    };
    if (!mSound::StartCapture(N, rate)) {
        closeRaw();
        row.problem = "StartCapture failed";
        Pa_CloseStream(stream);
        return row;
    }
    std::vector<double> done;
    std::vector<std::vector<std::int16_t>> data;
    const double deadline = Now() + (buffers + 6) * 1.0 + 5;
    // The tone starts once two buffers are in; the level is read from buffers it fills wholly.
    while (static_cast<int>(done.size()) < buffers + 2 && Now() < deadline) {
        mSound::nuStartIndex = 2 * N + 1; // only take buffers, never hand out a frame
        const std::int32_t before = mSound::nuCurrentBuffer;
        mSound::BufferReady();
        if (mSound::nuCurrentBuffer == before) {
            platform::WaveInWaitForCompletion(50);
            continue;
        }
        done.push_back(Now());
        data.emplace_back(mSound::aSamples.begin() + N + 1, mSound::aSamples.begin() + 2 * N + 1);
        if (done.size() == 2) {
            ref.armed.store(true, std::memory_order_release);
            gen.on.store(true, std::memory_order_release);
        }
    }
    mSound::StopCapture();
    closeRaw();
    Pa_CloseStream(stream);
    if (static_cast<int>(done.size()) < buffers + 2) {
        row.problem = "only " + std::to_string(done.size()) + " buffers completed";
        return row;
    }

    const double period = static_cast<double>(N) / rate;
    row.shortest = 1e9;
    for (std::size_t i = 2; i + 1 < done.size(); ++i) {
        const double d = done[i + 1] - done[i];
        row.shortest = std::min(row.shortest, d);
        row.longest = std::max(row.longest, d);
        row.worst = std::max(row.worst, std::fabs(d - period));
        ++row.intervals;
    }

    // The first sample above a tenth of full scale in the first buffer that holds the tone.
    const double onset = gen.onsetAt.load();
    for (std::size_t b = 2; b < data.size() && std::isnan(row.delayMs); ++b) {
        for (int i = 0; i < N; ++i) {
            if (std::abs(data[b][i]) > 3277) {
                const double arrived = done[b] - static_cast<double>(N - 1 - i) / rate;
                row.delayMs = (arrived - onset) * 1000.0;
                if (ref.arrivedAt.load() != 0)
                    row.addedMs = (arrived - ref.arrivedAt.load()) * 1000.0;
                // Levels from the last buffer: long after the start.
                const std::int16_t* x = data.back().data();
                const double low = Level(x, N, gen.hz[0], rate);
                row.passDb = 20 * std::log10(Level(x, N, gen.hz[1], rate) / low);
                row.aliasDb =
                    20 * std::log10(std::max(Level(x, N, rate - gen.hz[2], rate), 1e-9) / low);
                break;
            }
        }
    }
    if (std::isnan(row.delayMs)) row.problem = "the tone never arrived";
    return row;
}

} // namespace

int main(int argc, char** argv) {
    int buffers = 12;
    bool check = false;
    std::vector<int> rates;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--buffers" && i + 1 < argc)
            buffers = std::max(2, std::atoi(argv[++i]));
        else if (a == "--check")
            check = true;
        else
            rates.push_back(std::atoi(a.c_str()));
    }
    if (rates.empty()) rates = {1024, 2048, 4096, 8192, 16384, 32768};

    platform::MessageBoxRecorder boxes;
    const platform::PortAudioWaveIn portAudio; // PortAudio plays the tones, whoever records
    std::string chosen;
    const auto input = platform::MakeSystemWaveIn(&chosen);
    platform::SetWaveInBackend(input.get());
    if (!mSound::CheckInputDevice()) {
        std::printf("SKIPPED: no input device (is a sound server running?)\n");
        return 77;
    }
    const char* server = std::getenv("WITH_SOUND_SERVER");
    std::printf("server %s, sound input %s, device %s, %d intervals after the first two buffers\n",
                server ? server : "?", chosen.c_str(), mSound::tCaps.szPname, buffers - 1);
    std::printf("%6s %10s %10s %10s %9s %9s %9s %9s  %s\n", "rate", "shortest", "longest",
                "worst dev", "delay", "added", "0.9/0.1", "alias", "verdict");
    bool ok = true;
    for (int rate : rates) {
        const Row r = Measure(rate, buffers);
        const double period = 1.0;
        const double allowed = 0.05 * period + 0.010;
        std::string verdict = r.problem;
        if (verdict.empty()) {
            if (r.worst > allowed) verdict += " cadence";
            if (!(r.delayMs <= 150) || r.addedMs > 150) verdict += " delay";
            if (!(std::fabs(r.passDb) <= 1)) verdict += " passband";
            if (!(r.aliasDb <= -60)) verdict += " alias";
        }
        if (!verdict.empty()) ok = false;
        std::printf("%6d %8.4f s %8.4f s %7.1f ms %6.1f ms %6.1f ms %+6.2f dB %6.1f dB  %s\n",
                    r.rate, r.shortest, r.longest, r.worst * 1000, r.delayMs, r.addedMs, r.passDb,
                    r.aliasDb, verdict.empty() ? "ok" : ("FAIL:" + verdict).c_str());
        std::fflush(stdout);
    }
    for (const auto& m : boxes.messages())
        std::printf("message box \"%s\": %s\n", m.title.c_str(), m.text.c_str());
    platform::SetWaveInBackend(nullptr);
    return check && !ok ? 1 : 0;
}
