// SPDX-License-Identifier: GPL-3.0-or-later
#include "magnifier/placement.h"

namespace magnifier {

QPoint MagnifierTopLeft(QPoint pointer, QSize screen, QSize window) {
    int left = pointer.x() + kGap;
    int top = pointer.y() + kGap;
    const int rightmost = screen.width() - window.width();
    const int lowest = screen.height() - window.height();
    if (left + window.width() > screen.width()) left = rightmost;
    if (top + window.height() > screen.height()) top = lowest;
    // In the corner the window would cover the pointer; flip it to the upper left instead.
    if (left == rightmost && top == lowest) {
        left = pointer.x() - kGap - window.width();
        top = pointer.y() - kGap - window.height();
    }
    return {left, top};
}

QRect MagnifiedSource(QPoint pointer) {
    return {pointer.x() - kGap, pointer.y() - kGap, kSourceSide, kSourceSide};
}

uint32_t MergePenNot(uint32_t pen, uint32_t destination) {
    return 0xFF000000u | ((pen | ~destination) & 0x00FFFFFFu);
}

} // namespace magnifier
