// Shared helpers of the suites that drive the wave-input layer.
#pragma once

#include "platform/wave_in.h"

#include <string>

namespace test_support {

// The layer's own text for an error code, as a message box would show it.
std::string ErrorText(platform::MMRESULT code);

} // namespace test_support
