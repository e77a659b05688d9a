// The analyser's name for the shared rounding of platform/rounding.h (ties to even, saturating).
#pragma once

#include "platform/rounding.h"

namespace analyser {
using platform::rnd;
} // namespace analyser
