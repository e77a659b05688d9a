// The choice of sound input, and the sound server's input when no server answers.
#include "platform/wave_in.h"
#include "platform/wave_in_system.h"
#ifdef TONVAULT_HAVE_PULSE
#include "platform/wave_in_pulse.h"
#endif

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>

using namespace platform;

namespace {

// Points libpulse at a socket nobody listens on for the test's lifetime.
class NoSoundServer {
public:
    NoSoundServer() {
        if (const char* s = std::getenv("PULSE_SERVER")) saved_ = s;
        ::setenv("PULSE_SERVER", "unix:/nonexistent/tonvault-test/native", 1);
    }
    ~NoSoundServer() {
        if (saved_)
            ::setenv("PULSE_SERVER", saved_->c_str(), 1);
        else
            ::unsetenv("PULSE_SERVER");
    }

private:
    std::optional<std::string> saved_;
};

class ForcedInput {
public:
    explicit ForcedInput(const char* which) { ::setenv("TONVAULT_SOUND_INPUT", which, 1); }
    ~ForcedInput() { ::unsetenv("TONVAULT_SOUND_INPUT"); }
};

// Without a server the program must start at once on PortAudio's devices, and saying why.
TEST(SystemWaveIn, WithoutAServerFallsBackToPortAudioQuickly) {
    NoSoundServer none;
    std::string chosen, why;
    const auto start = std::chrono::steady_clock::now();
    const auto input = MakeSystemWaveIn(&chosen, &why);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ASSERT_NE(input, nullptr);
    EXPECT_EQ(chosen, "portaudio");
    EXPECT_LT(seconds, 2.0);
#ifdef TONVAULT_HAVE_PULSE
    EXPECT_NE(why.find("no sound server answered"), std::string::npos) << why;
#endif
}

TEST(SystemWaveIn, PortAudioCanBeAskedFor) {
    ForcedInput portAudio("portaudio");
    std::string chosen;
    const auto input = MakeSystemWaveIn(&chosen);
    ASSERT_NE(input, nullptr);
    EXPECT_EQ(chosen, "portaudio");
}

#ifdef TONVAULT_HAVE_PULSE
// A forced server input that cannot connect lists no device, and refuses calls on one, instead of
// recording from somewhere else.
TEST(SystemWaveIn, AForcedServerInputWithoutServerHasNoDevice) {
    NoSoundServer none;
    ForcedInput pulse("pulse");
    std::string chosen, why;
    const auto input = MakeSystemWaveIn(&chosen, &why);
    ASSERT_NE(input, nullptr);
    EXPECT_EQ(chosen, "pulse");
    EXPECT_FALSE(why.empty());
    SetWaveInBackend(input.get());
    EXPECT_EQ(waveInGetNumDevs(), 0u);
    WAVEINCAPSA caps{};
    EXPECT_NE(input->deviceCaps(0, caps), MMSYSERR_NOERROR);
    WaveInQueue queue;
    WAVEFORMATEX format{};
    format.nSamplesPerSec = 2048;
    std::unique_ptr<WaveInStream> stream;
    EXPECT_NE(input->open(0, format, queue, stream), MMSYSERR_NOERROR);
    EXPECT_EQ(stream, nullptr);
    SetWaveInBackend(nullptr);
}
#endif

} // namespace
