// SPDX-License-Identifier: GPL-3.0-or-later
// The plain picture the ring of rows is checked against: a QImage scrolled with one memmove per
// pass, as a waterfall once was; and a colour of its own for each pass and column.
#pragma once

#include "platform/system/colour.h"

#include <QImage>

#include <cstdint>
#include <cstring>

struct PlainPicture {
    QImage image;
    PlainPicture(int w, int h) : image(w, h, QImage::Format_RGB32) { image.fill(0xFF000000u); }
    void set(int x, int y, std::int32_t packed) {
        image.setPixel(x, y, platform::ColourToArgb(packed));
    }
    void copyDown() {
        std::memmove(image.bits() + image.bytesPerLine(), image.bits(),
                     static_cast<size_t>(image.bytesPerLine()) * (image.height() - 1));
    }
};

inline std::int32_t PassColour(int pass, int x) {
    return platform::PackColour((pass * 37 + x) & 0xFF, (pass * 11) & 0xFF, (x * 5 + 3) & 0xFF);
}
