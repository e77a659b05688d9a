// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/sound/wave_in_system.h"

#include "platform/sound/wave_in_portaudio.h"
#ifdef TONVAULT_HAVE_PULSE
#include "platform/sound/wave_in_pulse.h"
#endif

#include <cstdlib>
#include <string_view>

namespace platform {

std::unique_ptr<WaveInBackend> MakeSystemWaveIn(std::string* chosen, std::string* why) {
    const char* asked = std::getenv("TONVAULT_SOUND_INPUT");
    const std::string_view wanted = asked ? asked : "";
    std::string said;
#ifdef TONVAULT_HAVE_PULSE
    if (wanted != "portaudio") {
        auto pulse = std::make_unique<PulseWaveIn>();
        if (pulse->available() || wanted == "pulse") {
            if (chosen) *chosen = "pulse";
            if (why) *why = pulse->initError();
            return pulse;
        }
        said = "no sound server answered: " + pulse->initError();
    }
#else
    said = "built without libpulse";
#endif
    auto portAudio = std::make_unique<PortAudioWaveIn>();
    if (chosen) *chosen = "portaudio";
    if (why) *why = said + (portAudio->initError().empty() ? "" : "; " + portAudio->initError());
    return portAudio;
}

} // namespace platform
