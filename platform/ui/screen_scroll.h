// SPDX-License-Identifier: GPL-3.0-or-later
// The one path past Qt's repaint: a picture box's one-pixel scroll done straight in the window's
// backing store, with the changed rows copied in and flushed to the screen at once.
//
// Why: through QWidget::scroll and a repaint, every pass costs an update request, a paint event
// and Qt's region arithmetic. On X11 that was a quarter of the running program's CPU
// (scripts/measure/measure-cpu build 20, three alternating runs: 0.31-0.38 s with this path against
// 0.41-0.46 s without it, the X server's share unchanged). Everything else takes Qt's way.
#pragma once

#include "platform/ui/canvas.h"

#include <QRect>
#include <QRegion>

#include <array>
#include <cstdint>

class QWidget;

namespace platform {

class ScreenScroll {
public:
    // The part of `box` that no sibling of it or of its ancestors covers, as
    // QWidget::visibleRegion gives it, but worked out again only when what covers it moves or
    // changes looks: that arithmetic costs more than the rest of a pass's scroll.
    QRegion uncovered(const QWidget& box);

    // Moves `open` (a rectangle of the box) one row down in the backing store, copies the rows of
    // `drawn` (and `open`'s first row where `firstRowStale`) from the canvas, and flushes. False,
    // with nothing done, where the backing store cannot (not exposed, not a 32-bit image of the
    // window's size, or a scaled one); the caller then takes Qt's way.
    bool scroll(QWidget& box, const QRect& open, const Canvas& canvas, Canvas::Rows drawn,
                bool firstRowStale);

    // Scrolls done behind Qt's back since the last paint: a repaint Qt had pending from before
    // them is for rows that have moved on by up to this many. Reading it resets it.
    int takeScrolls() {
        const int n = scrolls_;
        scrolls_ = 0;
        return n;
    }

private:
    struct Cover {
        const QWidget* widget;
        QRect geometry;
        std::uint8_t looks;
        friend bool operator==(const Cover&, const Cover&) = default;
    };
    struct Key {
        QPoint placeInWindow;
        QSize size;
        QRect clip;
        std::array<Cover, 8> cover{};
        std::size_t covers = 0;
        friend bool operator==(const Key&, const Key&) = default;
    };
    static bool Weighable(const QWidget& w, std::uint8_t& looks);

    Key key_;
    QRegion region_;
    int scrolls_ = 0;
};

} // namespace platform
