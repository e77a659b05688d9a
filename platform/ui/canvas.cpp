// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/ui/canvas.h"

#include "platform/system/colour.h"
#include "platform/system/rounding.h"

#include <QFontMetrics>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace platform {

namespace {
constexpr int kFarAway = 1 << 20;
} // namespace

int Canvas::PixelX(double x) {
    // Far-away values are pinned so that the integer arithmetic of the line drawing cannot
    // overflow.
    if (!std::isfinite(x)) return x > 0 ? kFarAway : -kFarAway;
    return std::clamp(rnd(x), -kFarAway, kFarAway);
}

int Canvas::PixelY(double y, double scaleHeight, int rows) {
    return PixelX(scaleHeight == 0 ? y : y * rows / scaleHeight);
}

void Canvas::resize(int width, int height, std::uint32_t fill) {
    width = std::max(width, 0);
    height = std::max(height, 0);
    if (cols_ == width && rows_ == height) return;
    settle();
    unturn();
    if (width == 0 || height == 0) {
        image_ = QImage();
        cols_ = rows_ = 0;
        return;
    }
    QImage next(width, height, QImage::Format_RGB32);
    next.fill(fill);
    const int w = std::min(width, cols_);
    const int h = std::min(height, rows_);
    for (int y = 0; y < h; ++y)
        std::memcpy(next.scanLine(y), image_.constScanLine(y), static_cast<size_t>(w) * 4);
    image_ = std::move(next);
    cols_ = width;
    rows_ = height;
}

std::uint32_t* Canvas::row(int y) const {
    int line = top_ + y;
    if (line >= rows_) line -= rows_;
    return reinterpret_cast<std::uint32_t*>(image_.scanLine(line));
}

void Canvas::settle() const {
    if (!clearPending_ && pending_.empty()) return;
    if (clearPending_ && !image_.isNull()) {
        image_.fill(clearColour_);
        top_ = 0;
    }
    clearPending_ = false;
    for (const PendingLine& l : pending_)
        drawLine(PixelX(l.x0), PixelY(l.y0, l.scaleHeight, rows_), PixelX(l.x1),
                 PixelY(l.y1, l.scaleHeight, rows_), l.argb);
    pending_.clear();
}

void Canvas::unturn() const {
    if (top_ == 0) return;
    // RGB32 scan lines are exactly width * 4 bytes, so the rows form one array to rotate.
    auto* first = reinterpret_cast<std::uint32_t*>(image_.bits());
    const auto w = static_cast<std::ptrdiff_t>(cols_);
    std::rotate(first, first + top_ * w, first + w * rows_);
    top_ = 0;
}

void Canvas::fill(std::uint32_t argb) {
    pending_.clear();
    clearPending_ = false;
    top_ = 0;
    if (!image_.isNull()) image_.fill(argb);
}

void Canvas::clearLater(std::uint32_t argb) {
    pending_.clear();
    clearPending_ = true;
    clearColour_ = argb;
}

void Canvas::setPixel(int x, int y, std::uint32_t argb) {
    if (x < 0 || y < 0 || x >= cols_ || y >= rows_) return;
    settle();
    row(y)[x] = argb;
}

void Canvas::setRow(int y, std::span<const std::int32_t> packed) {
    const auto n = std::min(packed.size(), static_cast<std::size_t>(cols_));
    if (n == 0 || y < 0 || y >= rows_) return;
    settle();
    std::uint32_t* line = row(y);
    for (std::size_t x = 0; x < n; ++x) line[x] = ColourToArgb(packed[x]);
}

Canvas::Rows Canvas::drawText(int x, int y, const QString& text, const QFont& font,
                              std::uint32_t argb) {
    if (image_.isNull()) return {};
    settle();
    // Text is rare (a time stamp every few hundred passes); the painter needs the rows in order.
    unturn();
    const QFontMetrics metrics(font);
    {
        QPainter painter(&image_);
        painter.setFont(font);
        painter.setPen(QColor::fromRgb(argb));
        painter.drawText(x, y + metrics.ascent(), text);
    }
    // Glyphs may reach a little outside the line box.
    return {std::max(y - metrics.height(), 0), std::min(y + 2 * metrics.height(), rows_ - 1)};
}

void Canvas::drawLine(int x0, int y0, int x1, int y1, std::uint32_t argb) const {
    // Bresenham, end point excluded; pixels outside the picture are skipped.
    const int w = cols_;
    const int h = rows_;
    const int dx = std::abs(x1 - x0);
    const int dy = -std::abs(y1 - y0);
    const int sx = x0 < x1 ? 1 : -1;
    const int sy = y0 < y1 ? 1 : -1;
    int err = dx + dy;
    while (x0 != x1 || y0 != y1) {
        if (x0 >= 0 && y0 >= 0 && x0 < w && y0 < h) row(y0)[x0] = argb;
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

bool Canvas::copyDownOnePixel(int width, int height) {
    const int w = std::min(width, cols_);
    const int rows = std::min(height, rows_ - 1); // source rows that land inside
    if (w <= 0 || rows <= 0) return false;
    settle();
    if (w == cols_ && rows == rows_ - 1) {
        // The row that falls off the bottom becomes the new row 0 and takes a copy of row 0,
        // which stays where it is.
        top_ = top_ == 0 ? rows_ - 1 : top_ - 1;
        std::memcpy(row(0), row(1), static_cast<size_t>(w) * 4);
        return true;
    }
    unturn();
    const qsizetype stride = image_.bytesPerLine();
    uchar* bits = image_.bits();
    if (w == cols_) {
        std::memmove(bits + stride, bits, static_cast<size_t>(stride) * static_cast<size_t>(rows));
    } else {
        for (int y = rows - 1; y >= 0; --y)
            std::memmove(bits + stride * (y + 1), bits + stride * y, static_cast<size_t>(w) * 4);
    }
    return false;
}

void Canvas::setPicture(const QImage& source, std::uint32_t back) {
    const QImage picture = source.convertToFormat(QImage::Format_RGB32);
    // The whole image is written anew: what was pending no longer matters.
    fill(back);
    const int w = std::min(picture.width(), cols_);
    const int h = std::min(picture.height(), rows_);
    for (int y = 0; y < h; ++y)
        std::memcpy(image_.scanLine(y), picture.constScanLine(y), static_cast<size_t>(w) * 4);
}

QImage Canvas::image() const {
    settle();
    unturn();
    return image_;
}

void Canvas::paint(QPainter& painter, const QRect& rows) const {
    settle();
    const QRect area = rows & image_.rect();
    if (area.isEmpty()) return;
    // The picture's rows from area.top() on, in two runs where the ring wraps.
    int y = area.top();
    while (y <= area.bottom()) {
        int line = top_ + y;
        if (line >= rows_) line -= rows_;
        const int run = std::min(area.bottom() - y + 1, rows_ - line);
        painter.drawImage(QRect(area.left(), y, area.width(), run), image_,
                          QRect(area.left(), line, area.width(), run));
        y += run;
    }
}

bool Canvas::copyInto(QImage& target, const QRect& rows, const QPoint& offset) const {
    // An opaque RGB32 pixel is the same word in the 32-bit formats a backing store uses, so rows
    // are copied as they are, without a painter.
    const QImage::Format format = target.format();
    if ((format != QImage::Format_RGB32 && format != QImage::Format_ARGB32_Premultiplied &&
         format != QImage::Format_ARGB32) ||
        target.devicePixelRatio() != 1.0)
        return false;
    settle();
    const QRect area = rows & image_.rect();
    if (area.isEmpty()) return true;
    const QRect at = area.translated(offset);
    if (!target.rect().contains(at)) return false;
    const auto bytes = static_cast<std::size_t>(area.width()) * 4;
    for (int y = area.top(); y <= area.bottom(); ++y)
        std::memcpy(reinterpret_cast<std::uint32_t*>(target.scanLine(y + offset.y())) + at.left(),
                    row(y) + area.left(), bytes);
    return true;
}

} // namespace platform
