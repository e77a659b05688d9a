// SPDX-License-Identifier: GPL-3.0-or-later
// Pure geometry and pixel arithmetic of the magnifier: where the window goes beside the
// pointer, which screen square it enlarges, and the colour of its cross mark.
#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

#include <cstdint>

namespace magnifier {

inline constexpr int kGap = 20;
inline constexpr int kSourceSide = 40;

// Top-left corner of the window: 20 px right of and below the pointer, pushed back inside
// the right and bottom screen edges; when that lands exactly in the bottom-right corner the
// window goes 20 px above and left of the pointer instead.
QPoint MagnifierTopLeft(QPoint pointer, QSize screen, QSize window);

// The screen square enlarged: (x - 20, y - 20), 40 x 40.
QRect MagnifiedSource(QPoint pointer);

// "Pen OR NOT destination" on the RGB bits of two 0xAARRGGBB pixels; the result is opaque.
uint32_t MergePenNot(uint32_t pen, uint32_t destination);

} // namespace magnifier
