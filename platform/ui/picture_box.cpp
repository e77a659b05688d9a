// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/ui/picture_box.h"

#include "platform/system/colour.h"
#include "platform/system/rounding.h"

#include <QAbstractEventDispatcher>
#include <QBackingStore>
#include <QFontMetrics>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QWindow>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace platform {

namespace {
// Scale coordinates become pixels by rounding halves to even, far-away values are pinned so the
// integer arithmetic of the line drawing cannot overflow.
int ToPixel(double v) {
    if (!std::isfinite(v)) return v > 0 ? 1 << 20 : -(1 << 20);
    return std::clamp(rnd(v), -1048576, 1048576);
}

// A hidden picture traced without ever being read still gets drawn now and then, so the list
// of pending lines stays small.
constexpr std::size_t kMaxPendingLines = 4096;
} // namespace

PictureBox::PictureBox(QWidget* parent, std::int32_t backColour)
    : QWidget(parent), back_(backColour) {
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
    resizeImage(0, 0);
    // Pixels no scroll has taken to the screen are shown before the program sleeps.
    if (auto* dispatcher = QAbstractEventDispatcher::instance())
        connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this,
                [this] { tellPixels(); });
}

void PictureBox::Move(int left, int top, int width, int height) {
    setGeometry(left, top, width, height);
    resizeImage(width, height);
}

void PictureBox::resizeImage(int width, int height) {
    width = std::max(width, 0);
    height = std::max(height, 0);
    if (image_.width() == width && image_.height() == height) return;
    settle();
    unturn();
    if (width == 0 || height == 0) {
        image_ = QImage();
        rows_ = 0;
        changedAll();
        return;
    }
    QImage next(width, height, QImage::Format_RGB32);
    next.fill(ColourToArgb(back_));
    const int w = std::min(width, image_.width());
    const int h = std::min(height, image_.height());
    for (int y = 0; y < h; ++y)
        std::memcpy(next.scanLine(y), image_.constScanLine(y), static_cast<size_t>(w) * 4);
    image_ = std::move(next);
    rows_ = height;
    changedAll();
}

void PictureBox::setScaleHeight(double height) {
    scaleHeight_ = height;
}

void PictureBox::ScalePixels() {
    scaleHeight_ = 0;
}

int PictureBox::toPixelX(double x) const {
    return ToPixel(x);
}

int PictureBox::PixelY(double y, double scaleHeight, int rows) {
    if (scaleHeight == 0) return ToPixel(y);
    return ToPixel(y * rows / scaleHeight);
}

double PictureBox::fromPixelY(int py) const {
    if (scaleHeight_ == 0 || image_.height() == 0) return py;
    return static_cast<double>(py) * scaleHeight_ / image_.height();
}

std::uint32_t* PictureBox::row(int y) const {
    int line = top_ + y;
    if (line >= image_.height()) line -= image_.height();
    return reinterpret_cast<std::uint32_t*>(image_.scanLine(line));
}

void PictureBox::settle() const {
    if (!clearPending_ && pending_.empty()) return;
    if (clearPending_ && !image_.isNull()) {
        image_.fill(clearColour_);
        top_ = 0;
    }
    clearPending_ = false;
    for (const PendingLine& l : pending_)
        drawLine(toPixelX(l.x0), PixelY(l.y0, l.scaleHeight, rows_), toPixelX(l.x1),
                 PixelY(l.y1, l.scaleHeight, rows_), l.rgb);
    pending_.clear();
}

void PictureBox::unturn() const {
    if (top_ == 0) return;
    // RGB32 scan lines are exactly width * 4 bytes, so the rows form one array to rotate.
    auto* first = reinterpret_cast<std::uint32_t*>(image_.bits());
    const auto w = static_cast<std::ptrdiff_t>(image_.width());
    std::rotate(first, first + top_ * w, first + w * image_.height());
    top_ = 0;
}

void PictureBox::setBackColor(std::int32_t packed) {
    back_ = packed;
    pending_.clear();
    clearPending_ = false;
    top_ = 0;
    if (!image_.isNull()) image_.fill(ColourToArgb(back_));
    changedAll();
}

void PictureBox::Cls() {
    // The fill waits with the lines that follow it until someone looks.
    pending_.clear();
    clearPending_ = true;
    clearColour_ = ColourToArgb(back_);
    CurrentX = 0;
    CurrentY = 0;
    changedAll();
}

void PictureBox::SetPixel(int x, int y, std::int32_t packed) {
    if (x < 0 || y < 0 || x >= image_.width() || y >= image_.height()) return;
    settle();
    row(y)[x] = ColourToArgb(packed);
    notePixelRow(y);
}

void PictureBox::notePixelRow(int y) {
    if (pixelTop_ > pixelBottom_) {
        pixelTop_ = pixelBottom_ = y;
    } else {
        pixelTop_ = std::min(pixelTop_, y);
        pixelBottom_ = std::max(pixelBottom_, y);
    }
}

void PictureBox::SetPixelRow(int y, std::span<const std::int32_t> packed) {
    const auto n = std::min(packed.size(), static_cast<std::size_t>(image_.width()));
    if (n == 0 || y < 0 || y >= image_.height()) return;
    settle();
    std::uint32_t* line = row(y);
    for (std::size_t x = 0; x < n; ++x) line[x] = ColourToArgb(packed[x]);
    notePixelRow(y);
}

void PictureBox::tellPixels() {
    if (pixelTop_ > pixelBottom_) return;
    const int top = pixelTop_, bottom = pixelBottom_;
    pixelTop_ = 0;
    pixelBottom_ = -1;
    changed(top, bottom);
}

namespace {
// qobject_cast without the walk through the meta-objects.
const QWidget* AsWidget(const QObject* o) {
    return o->isWidgetType() ? static_cast<const QWidget*>(o) : nullptr;
}

// What decides how much of a widget covers another, as Qt weighs it; false for one that is not
// weighed by its rectangle (a mask or an effect).
bool CoverWeighable(const QWidget& w, std::uint8_t& looks) {
    if (!w.mask().isEmpty() || w.graphicsEffect()) return false;
    const bool filled = w.autoFillBackground();
    looks = static_cast<std::uint8_t>(
        (filled ? 1 : 0) | (w.testAttribute(Qt::WA_OpaquePaintEvent) ? 2 : 0) |
        (w.testAttribute(Qt::WA_NoSystemBackground) ? 4 : 0) |
        (w.testAttribute(Qt::WA_TranslucentBackground) ? 8 : 0) |
        (filled && w.palette().brush(w.backgroundRole()).isOpaque() ? 16 : 0));
    return true;
}
} // namespace

QRegion PictureBox::openRegion() const {
    // The part of the box no sibling covers, as visibleRegion gives it. Working that out costs
    // more than the rest of a pass's scroll, so it is only the box clipped by its ancestors where
    // nothing above the box or any of its ancestors overlaps it, and otherwise Qt's answer is
    // kept for as long as the box, its ancestors and what overlaps it stay where and as they are.
    QRect open = rect();
    QPoint at;
    for (const QObject* child : children()) {
        const auto* w = AsWidget(child);
        if (w && w->isVisible() && !w->isWindow() && w->geometry().intersects(open))
            return visibleRegion();
    }
    OpenRegionKey key;
    key.placeInWindow = mapTo(window(), QPoint());
    key.size = size();
    bool weighable = true;
    for (const QWidget* w = this; w->isVisible() && !w->isWindow() && w->parentWidget();
         w = w->parentWidget()) {
        at -= w->pos();
        const QWidget* parent = w->parentWidget();
        open &= QRect(at, parent->size());
        if (open.isEmpty() || w->graphicsEffect()) return visibleRegion();
        const QRect inParent = open.translated(-at);
        const QObjectList& siblings = parent->children();
        for (auto i = siblings.indexOf(w) + 1; i < siblings.size(); ++i) {
            const auto* s = AsWidget(siblings[i]);
            if (!s || !s->isVisible() || s->isWindow() || !s->geometry().intersects(inParent))
                continue;
            OpenRegionKey::Cover cover{s, s->geometry(), 0};
            if (key.covers == key.cover.size() || !CoverWeighable(*s, cover.looks))
                weighable = false;
            else
                key.cover[key.covers++] = cover;
        }
    }
    key.clip = open;
    if (!weighable) return visibleRegion();
    if (key.covers == 0) return open;
    if (!(key == openKey_)) {
        openKey_ = key;
        openRegion_ = visibleRegion();
    }
    return openRegion_;
}

bool PictureBox::scrollOnScreen(const QRect& open) {
    QWidget* top = window();
    QBackingStore* store = top->backingStore();
    QWindow* handle = top->windowHandle();
    if (!store || !handle || !handle->isExposed() || store->size() != top->size() ||
        open.height() < 2)
        return false;
    const QPoint offset = mapTo(top, QPoint());
    const QRect area = open.translated(offset);
    // Row 0 of the picture took a copy of what it held; rows SetPixel wrote have moved with the
    // picture (see CopyDownOnePixel), so a pixel row 1 means row 0 was written before the turn.
    const bool keptRowStale = open.top() > 0 || pixelTop_ == 1;
    if (!store->scroll(QRegion(area), 0, 1)) return false;
    // The scroll left the open part's first row as it was; only that row where it is stale and
    // the rows SetPixel wrote are drawn from the image.
    QRect rows;
    if (keptRowStale) rows = QRect(open.left(), open.top(), open.width(), 1);
    if (pixelTop_ <= pixelBottom_)
        rows |= QRect(open.left(), pixelTop_, open.width(), pixelBottom_ - pixelTop_ + 1);
    rows &= open;
    pixelTop_ = 0;
    pixelBottom_ = -1;
    if (!rows.isEmpty()) {
        const QRegion painted(rows.translated(offset));
        store->beginPaint(painted);
        if (!copyRows(store->paintDevice(), rows, offset)) {
            if (QPaintDevice* device = store->paintDevice()) {
                QPainter painter(device);
                painter.setClipRegion(painted);
                painter.translate(offset);
                drawRows(painter, rows);
            }
        }
        store->endPaint();
    }
    store->flush(QRegion(area), handle);
    ++screenScrolls_;
    return true;
}

void PictureBox::PSet(double x, double y, std::int32_t packed) {
    SetPixel(toPixelX(x), toPixelY(y), packed);
    CurrentX = x;
    CurrentY = y;
}

void PictureBox::drawLine(int x0, int y0, int x1, int y1, std::uint32_t rgb) const {
    // Bresenham, end point excluded; pixels outside the picture are skipped.
    const int w = image_.width();
    const int h = image_.height();
    const int dx = std::abs(x1 - x0);
    const int dy = -std::abs(y1 - y0);
    const int sx = x0 < x1 ? 1 : -1;
    const int sy = y0 < y1 ? 1 : -1;
    int err = dx + dy;
    while (x0 != x1 || y0 != y1) {
        if (x0 >= 0 && y0 >= 0 && x0 < w && y0 < h) row(y0)[x0] = rgb;
        const int e2 = 2 * err;
        if (e2 >= dy) {
            err += dy;
            x0 += sx;
        }
        if (e2 <= dx) {
            err += dx;
            y0 += sy;
        }
    }
}

void PictureBox::LineTo(double x, double y) {
    const PendingLine line{CurrentX, CurrentY, x, y, scaleHeight_, ColourToArgb(fore_)};
    CurrentX = x;
    CurrentY = y;
    if (image_.isNull()) return;
    pending_.push_back(line);
    if (isVisible()) { // a hidden box is painted whole when shown
        const int y0 = toPixelY(line.y0), y1 = toPixelY(line.y1);
        changed(std::min(y0, y1), std::max(y0, y1));
    }
    if (pending_.size() >= kMaxPendingLines) settle();
}

void PictureBox::Line(double x1, double y1, double x2, double y2) {
    CurrentX = x1;
    CurrentY = y1;
    LineTo(x2, y2);
}

void PictureBox::Print(const QString& text) {
    if (image_.isNull()) return;
    settle();
    // Text is rare (a time stamp every few hundred passes); the painter needs the rows in order.
    unturn();
    const QFontMetrics metrics(font());
    const int top = toPixelY(CurrentY);
    {
        QPainter painter(&image_);
        painter.setFont(font());
        painter.setPen(ToQColor(fore_));
        painter.drawText(toPixelX(CurrentX), top + metrics.ascent(), text);
    }
    CurrentX = 0;
    CurrentY += fromPixelY(metrics.height());
    // Glyphs may reach a little outside the line box.
    changed(top - metrics.height(), top + 2 * metrics.height());
}

void PictureBox::CopyDownOnePixel(int width, int height) {
    const int w = std::min(width, image_.width());
    const int rows = std::min(height, image_.height() - 1); // source rows that land inside
    if (w <= 0 || rows <= 0) return;
    settle();
    const int h = image_.height();
    if (w == image_.width() && rows == h - 1) {
        // The whole picture moves: the row that falls off the bottom becomes the new row 0 and
        // takes a copy of row 0, which stays where it is.
        top_ = top_ == 0 ? h - 1 : top_ - 1;
        std::memcpy(row(0), row(1), static_cast<size_t>(w) * 4);
        if (updateBottom_ >= updateTop_) {
            updateTop_ = std::min(updateTop_ + 1, h - 1);
            updateBottom_ = std::min(updateBottom_ + 1, h - 1);
        }
        // The screen moves the same way, so only rows drawn since are painted again. Qt moves
        // the pending repaints with the pixels; where it cannot blit it repaints the lot. It
        // repaints the lot as well when a sibling covers part of the box (the sample picture
        // covers the waterfall's last rows), so only the uncovered part is scrolled: what lies
        // under the sibling is not on the screen and is painted from the image when uncovered.
        if (pixelBottom_ >= pixelTop_) {
            pixelTop_ = std::min(pixelTop_ + 1, h - 1);
            pixelBottom_ = std::min(pixelBottom_ + 1, h - 1);
        }
        if (isVisible() && QWidget::width() == w && QWidget::height() == h) {
            const QRegion open = openRegion();
            // With no repaint of ours pending at Qt, the screen is moved and the new rows shown
            // right here; otherwise Qt moves its pending repaints with the pixels.
            if (updateTop_ > updateBottom_ && open.rectCount() == 1 &&
                scrollOnScreen(open.boundingRect()))
                return;
            scroll(0, 1, open.rectCount() == 1 ? open.boundingRect() : rect());
            tellPixels();
        } else {
            tellPixels();
            changedAll();
        }
        return;
    }
    unturn();
    const qsizetype stride = image_.bytesPerLine();
    uchar* bits = image_.bits();
    if (w == image_.width()) {
        std::memmove(bits + stride, bits, static_cast<size_t>(stride) * static_cast<size_t>(rows));
    } else {
        for (int y = rows - 1; y >= 0; --y)
            std::memmove(bits + stride * (y + 1), bits + stride * y, static_cast<size_t>(w) * 4);
    }
    changed(1, rows);
}

QImage PictureBox::Image() const {
    settle();
    unturn();
    return image_;
}

bool PictureBox::SaveBmp(const QString& path) const {
    return Image().save(path, "BMP");
}

bool PictureBox::LoadPicture(const QString& path) {
    QImage picture;
    if (!picture.load(path)) return false;
    return SetPicture(picture);
}

bool PictureBox::SetPicture(const QImage& source) {
    if (source.isNull()) return false;
    const QImage picture = source.convertToFormat(QImage::Format_RGB32);
    // The whole image is written anew: what was pending no longer matters.
    pending_.clear();
    clearPending_ = false;
    top_ = 0;
    image_.fill(ColourToArgb(back_));
    const int w = std::min(picture.width(), image_.width());
    const int h = std::min(picture.height(), image_.height());
    for (int y = 0; y < h; ++y)
        std::memcpy(image_.scanLine(y), picture.constScanLine(y), static_cast<size_t>(w) * 4);
    changedAll();
    return true;
}

void PictureBox::changed(int top, int bottom) {
    // A hidden box is painted whole when it is shown; a hidden trace redrawn every pass need not
    // tell Qt anything.
    if (!isVisible()) return;
    // Many pixel writes per pass: Qt hears only of rows it has not been told about since the
    // last paint.
    top = std::max(top, 0);
    bottom = std::min(bottom, image_.height() - 1);
    if (top > bottom) return;
    if (updateTop_ <= updateBottom_) {
        if (top >= updateTop_ && bottom <= updateBottom_) return;
        top = std::min(top, updateTop_);
        bottom = std::max(bottom, updateBottom_);
    }
    updateTop_ = top;
    updateBottom_ = bottom;
    update(0, top, QWidget::width(), bottom - top + 1);
}

void PictureBox::paintEvent(QPaintEvent* event) {
    settle();
    updateTop_ = 0;
    updateBottom_ = -1;
    QPainter painter(this);
    const QRect area = event->rect() & image_.rect();
    if (screenScrolls_ > 0) {
        // Qt may have meant these rows before some of the scrolls it did not see: the rows they
        // have moved to are painted too, on the next round.
        const int moved = std::min(screenScrolls_, image_.height());
        screenScrolls_ = 0;
        if (!area.isEmpty()) changed(area.top() + 1, area.bottom() + moved);
    }
    drawRows(painter, area);
}

void PictureBox::drawRows(QPainter& painter, const QRect& rows) const {
    const QRect area = rows & image_.rect();
    if (area.isEmpty()) return;
    // The picture's rows from area.top() on, in two runs where the ring wraps.
    const int h = image_.height();
    int y = area.top();
    while (y <= area.bottom()) {
        int line = top_ + y;
        if (line >= h) line -= h;
        const int run = std::min(area.bottom() - y + 1, h - line);
        painter.drawImage(QRect(area.left(), y, area.width(), run), image_,
                          QRect(area.left(), line, area.width(), run));
        y += run;
    }
}

bool PictureBox::copyRows(QPaintDevice* device, const QRect& rows, const QPoint& offset) const {
    // The window's backing store is an image of the window's pixels on the usual raster paths;
    // an opaque RGB32 pixel is the same word in the 32-bit formats it uses, so the rows are
    // copied as they are, without a painter (which is most of the cost of a one-row paint).
    if (!device || device->devType() != QInternal::Image) return false;
    auto* target = static_cast<QImage*>(device);
    const QImage::Format format = target->format();
    if ((format != QImage::Format_RGB32 && format != QImage::Format_ARGB32_Premultiplied &&
         format != QImage::Format_ARGB32) ||
        target->devicePixelRatio() != 1.0)
        return false;
    const QRect area = rows & image_.rect();
    if (area.isEmpty()) return true;
    const QRect at = area.translated(offset);
    if (!target->rect().contains(at)) return false;
    const auto bytes = static_cast<std::size_t>(area.width()) * 4;
    for (int y = area.top(); y <= area.bottom(); ++y)
        std::memcpy(reinterpret_cast<std::uint32_t*>(target->scanLine(y + offset.y())) + at.left(),
                    row(y) + area.left(), bytes);
    return true;
}

void PictureBox::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    resizeImage(width(), height());
}

void PictureBox::mouseMoveEvent(QMouseEvent* event) {
    if (onMouseMove)
        onMouseMove(event->buttons(), event->modifiers(), event->position().x(),
                    scaleHeight_ == 0
                        ? event->position().y()
                        : event->position().y() * scaleHeight_ / std::max(1, image_.height()));
    QWidget::mouseMoveEvent(event);
}

void PictureBox::mouseReleaseEvent(QMouseEvent* event) {
    QWidget::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()) &&
        onClick)
        onClick();
}

void PictureBox::focusInEvent(QFocusEvent* event) {
    QWidget::focusInEvent(event);
    if (onGotFocus) onGotFocus();
}

} // namespace platform
