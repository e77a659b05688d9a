// SPDX-License-Identifier: GPL-3.0-or-later
// The one colour value every layer passes around: 24-bit RGB packed into a 32-bit integer as
// red + 256 * green + 65536 * blue, each component 0..255. Picture boxes, labels and buttons
// take it as their colours; the colour map produces it.
#pragma once

#include <cstdint>

namespace platform {

struct Rgb {
    std::int32_t red = 0;
    std::int32_t green = 0;
    std::int32_t blue = 0;
    friend bool operator==(const Rgb&, const Rgb&) = default;
};

constexpr std::int32_t PackColour(std::int32_t red, std::int32_t green, std::int32_t blue) {
    return red + 256 * green + 65536 * blue;
}

// Bits above the 24 colour bits are ignored.
constexpr Rgb SplitColour(std::int32_t packed) {
    return {packed & 0xFF, (packed >> 8) & 0xFF, (packed >> 16) & 0xFF};
}

// The packed colour as an opaque 0xAARRGGBB pixel (what QImage's 32-bit formats and QRgb hold).
constexpr std::uint32_t ColourToArgb(std::int32_t packed) {
    const Rgb c = SplitColour(packed);
    return 0xFF000000u | (static_cast<std::uint32_t>(c.red) << 16) |
           (static_cast<std::uint32_t>(c.green) << 8) | static_cast<std::uint32_t>(c.blue);
}

} // namespace platform
