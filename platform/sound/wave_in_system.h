// SPDX-License-Identifier: GPL-3.0-or-later
// The real sound input of this system outside Windows: the sound server itself where one answers
// (PulseWaveIn), otherwise PortAudio's devices.
#pragma once

#include "platform/sound/wave_in_backend.h"

#include <memory>
#include <string>

namespace platform {

// TONVAULT_SOUND_INPUT=pulse or =portaudio in the environment asks for one of the two whatever
// answers (a forced server that does not answer lists no device). chosen, when given, receives
// "pulse" or "portaudio"; why, what kept the other one out, if anything.
std::unique_ptr<WaveInBackend> MakeSystemWaveIn(std::string* chosen = nullptr,
                                                std::string* why = nullptr);

} // namespace platform
