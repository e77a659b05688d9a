// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/wave_in_errors.h"

namespace test_support {

std::string ErrorText(platform::MMRESULT code) {
    char text[platform::MAXERRORLENGTH];
    platform::waveInGetErrorTextA(code, text, sizeof text);
    return text;
}

platform::WAVEFORMATEX Mono16(std::uint32_t rate) {
    platform::WAVEFORMATEX f{};
    f.wFormatTag = platform::WAVE_FORMAT_PCM;
    f.nChannels = 1;
    f.nSamplesPerSec = rate;
    f.wBitsPerSample = 16;
    f.nBlockAlign = 2;
    f.nAvgBytesPerSec = 2 * rate;
    return f;
}

} // namespace test_support
