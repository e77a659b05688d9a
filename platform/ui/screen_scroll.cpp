// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/ui/screen_scroll.h"

#include <QBackingStore>
#include <QGraphicsEffect>
#include <QPainter>
#include <QWidget>
#include <QWindow>

namespace platform {

bool ScreenScroll::Weighable(const QWidget& w, std::uint8_t& looks) {
    // What decides how much of a widget covers another, as Qt weighs it; false for one that is
    // not weighed by its rectangle (a mask or an effect).
    if (!w.mask().isEmpty() || w.graphicsEffect()) return false;
    const bool filled = w.autoFillBackground();
    looks = static_cast<std::uint8_t>(
        (filled ? 1 : 0) | (w.testAttribute(Qt::WA_OpaquePaintEvent) ? 2 : 0) |
        (w.testAttribute(Qt::WA_NoSystemBackground) ? 4 : 0) |
        (w.testAttribute(Qt::WA_TranslucentBackground) ? 8 : 0) |
        (filled && w.palette().brush(w.backgroundRole()).isOpaque() ? 16 : 0));
    return true;
}

QRegion ScreenScroll::uncovered(const QWidget& box) {
    // Where nothing overlaps the box it is only the box clipped by its ancestors; otherwise Qt's
    // answer is kept for as long as the box, its ancestors and what overlaps them stay as they are.
    QRect open = box.rect();
    QPoint at;
    for (const QObject* child : box.children()) {
        const auto* w = qobject_cast<const QWidget*>(child);
        if (w && w->isVisible() && !w->isWindow() && w->geometry().intersects(open))
            return box.visibleRegion();
    }
    Key key;
    key.placeInWindow = box.mapTo(box.window(), QPoint());
    key.size = box.size();
    bool weighable = true;
    for (const QWidget* w = &box; w->isVisible() && !w->isWindow() && w->parentWidget();
         w = w->parentWidget()) {
        at -= w->pos();
        const QWidget* parent = w->parentWidget();
        open &= QRect(at, parent->size());
        if (open.isEmpty() || w->graphicsEffect()) return box.visibleRegion();
        const QRect inParent = open.translated(-at);
        const QObjectList& siblings = parent->children();
        for (auto i = siblings.indexOf(w) + 1; i < siblings.size(); ++i) {
            const auto* s = qobject_cast<const QWidget*>(siblings[i]);
            if (!s || !s->isVisible() || s->isWindow() || !s->geometry().intersects(inParent))
                continue;
            Cover cover{s, s->geometry(), 0};
            if (key.covers == key.cover.size() || !Weighable(*s, cover.looks))
                weighable = false;
            else
                key.cover[key.covers++] = cover;
        }
    }
    key.clip = open;
    if (!weighable) return box.visibleRegion();
    if (key.covers == 0) return open;
    if (!(key == key_)) {
        key_ = key;
        region_ = box.visibleRegion();
    }
    return region_;
}

bool ScreenScroll::scroll(QWidget& box, const QRect& open, const Canvas& canvas, Canvas::Rows drawn,
                          bool firstRowStale) {
    QWidget* top = box.window();
    QBackingStore* store = top->backingStore();
    QWindow* handle = top->windowHandle();
    if (!store || !handle || !handle->isExposed() || store->size() != top->size() ||
        open.height() < 2)
        return false;
    const QPoint offset = box.mapTo(top, QPoint());
    const QRect area = open.translated(offset);
    if (!store->scroll(QRegion(area), 0, 1)) return false;
    // The scroll left the open part's first row as it was; only that row where it is stale and
    // the rows drawn are copied from the canvas.
    QRect rows;
    if (firstRowStale) rows = QRect(open.left(), open.top(), open.width(), 1);
    if (!drawn.empty())
        rows |= QRect(open.left(), drawn.top, open.width(), drawn.bottom - drawn.top + 1);
    rows &= open;
    if (!rows.isEmpty()) {
        const QRegion painted(rows.translated(offset));
        store->beginPaint(painted);
        QPaintDevice* device = store->paintDevice();
        // The window's backing store is an image of its pixels on the usual raster paths; a
        // painter is most of the cost of a one-row paint.
        const bool copied = device && device->devType() == QInternal::Image &&
                            canvas.copyInto(*static_cast<QImage*>(device), rows, offset);
        if (!copied && device) {
            QPainter painter(device);
            painter.setClipRegion(painted);
            painter.translate(offset);
            canvas.paint(painter, rows);
        }
        store->endPaint();
    }
    store->flush(QRegion(area), handle);
    ++scrolls_;
    return true;
}

} // namespace platform
