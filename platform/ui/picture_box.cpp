// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/ui/picture_box.h"

#include "platform/system/colour.h"

#include <QAbstractEventDispatcher>
#include <QFontMetrics>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>

#include <algorithm>

namespace platform {

namespace {
Canvas::Rows Join(Canvas::Rows a, Canvas::Rows b) {
    if (a.empty()) return b;
    if (b.empty()) return a;
    return {std::min(a.top, b.top), std::max(a.bottom, b.bottom)};
}

// Rows moved one down with the picture, the last one staying on the picture.
Canvas::Rows MovedDown(Canvas::Rows rows, int height) {
    if (rows.empty()) return rows;
    return {std::min(rows.top + 1, height - 1), std::min(rows.bottom + 1, height - 1)};
}
} // namespace

PictureBox::PictureBox(QWidget* parent, std::int32_t backColour)
    : QWidget(parent), back_(backColour) {
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
    // Pixels that no scroll has taken to the screen are handed to Qt before the program sleeps:
    // a posted call instead would cost an event, and its allocation, in every pass.
    if (auto* dispatcher = QAbstractEventDispatcher::instance())
        connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this,
                [this] { tellPixels(); });
}

void PictureBox::Move(int left, int top, int width, int height) {
    setGeometry(left, top, width, height);
    resizeCanvas(width, height);
}

void PictureBox::resizeCanvas(int width, int height) {
    if (canvas_.width() == std::max(width, 0) && canvas_.height() == std::max(height, 0)) return;
    canvas_.resize(width, height, ColourToArgb(back_));
    changedAll();
}

void PictureBox::setBackColor(std::int32_t packed) {
    back_ = packed;
    canvas_.fill(ColourToArgb(back_));
    changedAll();
}

void PictureBox::Cls() {
    canvas_.clearLater(ColourToArgb(back_));
    CurrentX = 0;
    CurrentY = 0;
    changedAll();
}

void PictureBox::SetPixel(int x, int y, std::int32_t packed) {
    if (x < 0 || y < 0 || x >= canvas_.width() || y >= canvas_.height()) return;
    canvas_.setPixel(x, y, ColourToArgb(packed));
    notePixelRows(y, y);
}

void PictureBox::SetPixelRow(int y, std::span<const std::int32_t> packed) {
    if (packed.empty() || canvas_.width() == 0 || y < 0 || y >= canvas_.height()) return;
    canvas_.setRow(y, packed);
    notePixelRows(y, y);
}

void PictureBox::PSet(double x, double y, std::int32_t packed) {
    SetPixel(Canvas::PixelX(x), Canvas::PixelY(y, scaleHeight_, canvas_.height()), packed);
    CurrentX = x;
    CurrentY = y;
}

void PictureBox::LineTo(double x, double y) {
    const double x0 = CurrentX, y0 = CurrentY;
    CurrentX = x;
    CurrentY = y;
    if (canvas_.width() == 0) return;
    canvas_.lineLater(x0, y0, x, y, scaleHeight_, ColourToArgb(fore_));
    // A hidden box is painted whole when shown, so a trace redrawn every pass costs no pixel
    // arithmetic here.
    if (isVisible()) {
        const int rows = canvas_.height();
        const int p0 = Canvas::PixelY(y0, scaleHeight_, rows);
        const int p1 = Canvas::PixelY(y, scaleHeight_, rows);
        changed(std::min(p0, p1), std::max(p0, p1));
    }
}

void PictureBox::Line(double x1, double y1, double x2, double y2) {
    CurrentX = x1;
    CurrentY = y1;
    LineTo(x2, y2);
}

void PictureBox::Print(const QString& text) {
    if (canvas_.width() == 0) return;
    const Canvas::Rows rows = canvas_.drawText(
        Canvas::PixelX(CurrentX), Canvas::PixelY(CurrentY, scaleHeight_, canvas_.height()), text,
        font(), ColourToArgb(fore_));
    const int lineHeight = QFontMetrics(font()).height();
    CurrentX = 0;
    CurrentY += scaleHeight_ == 0 || canvas_.height() == 0
                    ? lineHeight
                    : static_cast<double>(lineHeight) * scaleHeight_ / canvas_.height();
    changed(rows.top, rows.bottom);
}

void PictureBox::CopyDownOnePixel(int width, int height) {
    if (!canvas_.copyDownOnePixel(width, height)) {
        // Part of the picture moved, or nothing: Qt repaints the rows that did.
        const int rows = std::min(height, canvas_.height() - 1);
        if (std::min(width, canvas_.width()) > 0 && rows > 0) changed(1, rows);
        return;
    }
    // The whole picture moved. What Qt has been told and what SetPixel wrote move with it.
    const int h = canvas_.height();
    told_ = MovedDown(told_, h);
    unshown_ = MovedDown(unshown_, h);
    if (!isVisible() || QWidget::width() != canvas_.width() || QWidget::height() != h) {
        tellPixels();
        changedAll();
        return;
    }
    // Only the part no sibling covers is scrolled (the sample picture lies over the waterfall's
    // last rows): Qt would repaint the lot otherwise, and what lies under a sibling is painted
    // from the canvas when it is uncovered. With no repaint of ours pending at Qt, the screen is
    // moved and the new rows shown right here; otherwise Qt moves its pending repaints with the
    // pixels.
    const QRegion open = screen_.uncovered(*this);
    if (open.rectCount() == 1) {
        const QRect area = open.boundingRect();
        // Row 0 took a copy of what it held; a written row 1 means row 0 was written before.
        const bool firstRowStale = area.top() > 0 || unshown_.top == 1;
        if (told_.empty() && screen_.scroll(*this, area, canvas_, unshown_, firstRowStale)) {
            unshown_ = {};
            return;
        }
        scroll(0, 1, area);
    } else {
        scroll(0, 1, rect());
    }
    tellPixels();
}

bool PictureBox::SaveBmp(const QString& path) const {
    return canvas_.image().save(path, "BMP");
}

bool PictureBox::LoadPicture(const QString& path) {
    QImage picture;
    if (!picture.load(path)) return false;
    return SetPicture(picture);
}

bool PictureBox::SetPicture(const QImage& picture) {
    if (picture.isNull()) return false;
    canvas_.setPicture(picture, ColourToArgb(back_));
    changedAll();
    return true;
}

void PictureBox::notePixelRows(int top, int bottom) {
    unshown_ = Join(unshown_, {top, bottom});
}

void PictureBox::tellPixels() {
    if (unshown_.empty()) return;
    const Canvas::Rows rows = unshown_;
    unshown_ = {};
    changed(rows.top, rows.bottom);
}

void PictureBox::changed(int top, int bottom) {
    // A hidden box is painted whole when it is shown.
    if (!isVisible()) return;
    // Many writes per pass: Qt hears only of rows it has not been told about since the last paint.
    top = std::max(top, 0);
    bottom = std::min(bottom, canvas_.height() - 1);
    if (top > bottom) return;
    if (!told_.empty() && top >= told_.top && bottom <= told_.bottom) return;
    told_ = Join(told_, {top, bottom});
    update(0, told_.top, QWidget::width(), told_.bottom - told_.top + 1);
}

void PictureBox::paintEvent(QPaintEvent* event) {
    told_ = {};
    QPainter painter(this);
    const QRect area = event->rect() & QRect(0, 0, canvas_.width(), canvas_.height());
    // Qt may have meant these rows before some of the scrolls it did not see: the rows they have
    // moved to are painted too, on the next round.
    if (const int moved = std::min(screen_.takeScrolls(), canvas_.height());
        moved > 0 && !area.isEmpty())
        changed(area.top() + 1, area.bottom() + moved);
    canvas_.paint(painter, area);
}

void PictureBox::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    resizeCanvas(width(), height());
}

void PictureBox::mouseMoveEvent(QMouseEvent* event) {
    if (onMouseMove)
        onMouseMove(event->buttons(), event->modifiers(), event->position().x(),
                    scaleHeight_ == 0
                        ? event->position().y()
                        : event->position().y() * scaleHeight_ / std::max(1, canvas_.height()));
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
