// SPDX-License-Identifier: GPL-3.0-or-later
// Shared helpers of the suites that drive the wave-input layer.
#pragma once

#include "platform/sound/wave_in.h"

#include <cstdint>
#include <string>

namespace test_support {

// The layer's own text for an error code, as a message box would show it.
std::string ErrorText(platform::MMRESULT code);

// The program's recording format: mono, 16-bit PCM at rate samples per second.
platform::WAVEFORMATEX Mono16(std::uint32_t rate);

} // namespace test_support
