// SPDX-License-Identifier: GPL-3.0-or-later
// The choice of sound input, and the sound server's input when no server answers.
#include "platform/sound/wave_in.h"
#include "platform/sound/wave_in_system.h"
#ifdef TONVAULT_HAVE_PULSE
#include "platform/sound/wave_in_pulse.h"
#endif

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>

using namespace platform;

namespace {

// Sets an environment variable for its lifetime, then puts back what was there.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* s = std::getenv(name)) saved_ = s;
        ::setenv(name, value, 1);
    }
    ~ScopedEnv() {
        if (saved_)
            ::setenv(name_, saved_->c_str(), 1);
        else
            ::unsetenv(name_);
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* name_;
    std::optional<std::string> saved_;
};

// libpulse pointed at a socket nobody listens on.
ScopedEnv NoSoundServer() {
    return ScopedEnv("PULSE_SERVER", "unix:/nonexistent/tonvault-test/native");
}

// Without a server the program must start on PortAudio's devices without waiting, and say why.
TEST(SystemWaveIn, WithoutAServerFallsBackToPortAudioQuickly) {
    const ScopedEnv none = NoSoundServer();
    const ScopedEnv automatic("TONVAULT_SOUND_INPUT", "");
    std::string chosen, why;
    const auto start = std::chrono::steady_clock::now();
    const auto input = MakeSystemWaveIn(&chosen, &why);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ASSERT_NE(input, nullptr);
    EXPECT_EQ(chosen, "portaudio");
    // Refused at once, in practice; the margin only tells a hang (a wait on a server that is not
    // there) from a busy machine.
    EXPECT_LT(seconds, 10.0);
#ifdef TONVAULT_HAVE_PULSE
    EXPECT_NE(why.find("no sound server answered"), std::string::npos) << why;
#endif
}

TEST(SystemWaveIn, PortAudioCanBeAskedFor) {
    const ScopedEnv portAudio("TONVAULT_SOUND_INPUT", "portaudio");
    std::string chosen;
    const auto input = MakeSystemWaveIn(&chosen);
    ASSERT_NE(input, nullptr);
    EXPECT_EQ(chosen, "portaudio");
}

#ifdef TONVAULT_HAVE_PULSE
// A forced server input that cannot connect lists no device, and refuses calls on one, instead of
// recording from somewhere else.
TEST(SystemWaveIn, AForcedServerInputWithoutServerHasNoDevice) {
    const ScopedEnv none = NoSoundServer();
    const ScopedEnv pulse("TONVAULT_SOUND_INPUT", "pulse");
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
