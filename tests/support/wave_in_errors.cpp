#include "support/wave_in_errors.h"

namespace test_support {

std::string ErrorText(platform::MMRESULT code) {
    char text[platform::MAXERRORLENGTH];
    platform::waveInGetErrorTextA(code, text, sizeof text);
    return text;
}

} // namespace test_support
